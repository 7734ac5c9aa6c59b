// Parameter files: the sidecar "key value" files that describe raw grids.
// The toolkit reports failures by result only; the caller names the file
// and the key in its own message.

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <fstream>
#include <map>
#include <string>

#include "hostkit.h"

struct Pf {
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
    if (*end != '\0' || errno == ERANGE) return false;
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
    return ok ? 0 : -2;
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
