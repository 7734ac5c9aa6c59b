// Parameter files: the sidecar "key value" files that describe raw grids.
// A missing key is reported by result only; a value that cannot be used is
// registered here, naming the file, the key and the value, so that the
// caller's own message follows the one that says what was wrong.

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <fstream>
#include <map>
#include <string>

#include "hostkit.h"

struct Pf {
    std::string path;
    std::map<std::string, std::string> values;
};

namespace {

std::string trim(const std::string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && isspace(static_cast<unsigned char>(s[b]))) b++;
    while (e > b && isspace(static_cast<unsigned char>(s[e - 1]))) e--;
    return s.substr(b, e - b);
}

void parse_line(Pf *pf, std::string line)
{
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    line = trim(line);
    if (line.empty()) return;
    size_t split = 0;
    while (split < line.size() && !isspace(static_cast<unsigned char>(line[split]))) split++;
    pf->values[line.substr(0, split)] = trim(line.substr(split));
}

bool parse_double(const std::string &text, double *out)
{
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    double v = strtod(text.c_str(), &end);
    if (*end != '\0' || errno == ERANGE || !isfinite(v)) return false;
    *out = v;
    return true;
}

bool parse_int(const std::string &text, int *out)
{
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    long v = strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    *out = static_cast<int>(v);
    return true;
}

bool parse_yesno(const std::string &text, int *out)
{
    static const char *const yes[] = {"yes", "y", "true", "on", "1"};
    static const char *const no[] = {"no", "n", "false", "off", "0"};
    for (const char *w : yes)
        if (strcasecmp(text.c_str(), w) == 0) return *out = 1, true;
    for (const char *w : no)
        if (strcasecmp(text.c_str(), w) == 0) return *out = 0, true;
    return false;
}

void log_text(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    elog_log(0, format, args);
    va_end(args);
}

void log_refusal(const Pf *pf, const char *key, const char *value, const char *why)
{
    log_text("parameter file %s: key %s: cannot use value '%s' (%s)\n", pf->path.c_str(), key, value, why);
}

const char *unreadable_because(int kind, const std::string &text)
{
    switch (kind) {
    case PF_DOUBLE: {
        char *end = nullptr;
        strtod(text.c_str(), &end);
        bool whole = !text.empty() && *end == '\0';
        return whole ? "not a finite number" : "not a number";
    }
    case PF_INT: return "not a whole number within the range of an int";
    case PF_YESNO: return "not yes or no";
    default: return "no such kind of value";
    }
}

}  // namespace

extern "C" {

int pfread(const char *data_path, Pf **pf)
{
    if (!data_path || !pf) return -1;
    std::ifstream in(std::string(data_path) + ".pf");
    if (!in) return -1;
    Pf *set = new (std::nothrow) Pf;
    if (!set) return -1;
    try {
        std::string line;
        while (std::getline(in, line)) parse_line(set, line);
    } catch (...) {
        delete set;
        return -1;
    }
    if (in.bad()) {
        delete set;
        return -1;
    }
    set->path = std::string(data_path) + ".pf";
    pffree(*pf);
    *pf = set;
    return 0;
}

int parse_param(Pf *pf, const char *key, int kind, int required, void *value)
{
    if (!pf || !key || !value) return -1;
    auto it = pf->values.find(key);
    if (it == pf->values.end()) return required ? -1 : 0;
    const std::string &text = it->second;
    bool ok = false;
    switch (kind) {
    case PF_DOUBLE: ok = parse_double(text, static_cast<double *>(value)); break;
    case PF_INT: ok = parse_int(text, static_cast<int *>(value)); break;
    case PF_YESNO: ok = parse_yesno(text, static_cast<int *>(value)); break;
    default: ok = false;
    }
    if (ok) return 0;
    log_refusal(pf, key, text.c_str(), unreadable_because(kind, text));
    return -2;
}

int pf_refuse(Pf *pf, const char *key, const char *why)
{
    if (!pf || !key) return -1;
    const char *value = pfget_string(pf, key);
    log_refusal(pf, key, value ? value : "", why ? why : "unusable");
    return -1;
}

const char *pfget_string(Pf *pf, const char *key)
{
    if (!pf || !key) return nullptr;
    auto it = pf->values.find(key);
    return it == pf->values.end() ? nullptr : it->second.c_str();
}

void pffree(Pf *pf)
{
    delete pf;
}

}  // extern "C"
