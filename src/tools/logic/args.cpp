#include "args.h"

#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

namespace orvextool {

bool parse_long(const char *text, long min, long max, long *value)
{
    if (!text || !*text) return false;
    char *end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    *value = v;
    return true;
}

bool parse_double(const char *text, double *value)
{
    if (!text || !*text) return false;
    char *end = nullptr;
    errno = 0;
    double v = strtod(text, &end);
    if (errno != 0 || *end != '\0' || !isfinite(v)) return false;
    *value = v;
    return true;
}

bool parse_tiles(const char *text, int *rows, int *cols)
{
    if (!text) return false;
    const char *x = strchr(text, 'x');
    if (!x) return false;
    std::string first(text, static_cast<size_t>(x - text));
    long r = 0, c = 0;
    /* Any count of tiles each way; the declaration refuses more tiles in all
     * than a tile number counts. */
    if (!parse_long(first.c_str(), 1, INT_MAX, &r) || !parse_long(x + 1, 1, INT_MAX, &c)) return false;
    *rows = static_cast<int>(r);
    *cols = static_cast<int>(c);
    return true;
}

bool split_words(const std::string &line, std::vector<std::string> *words)
{
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (char ch : line) {
        if (quote) {
            if (ch == quote) quote = 0;
            else word += ch;
            continue;
        }
        if (ch == '#') break;
        if (ch == '\'' || ch == '"') {
            quote = ch;
            in_word = true;
        } else if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n') {
            if (in_word) words->push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += ch;
            in_word = true;
        }
    }
    if (quote) return false;
    if (in_word) words->push_back(word);
    return true;
}

}  // namespace orvextool
