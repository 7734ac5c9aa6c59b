#include "json_text.h"

#include <math.h>
#include <stdio.h>

namespace orvextool {

void append_json_string(std::string *out, const std::string &text)
{
    out->push_back('"');
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out->push_back('\\');
            out->push_back(static_cast<char>(c));
        } else if (c < 0x20) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\u%04x", c);
            out->append(buf);
        } else {
            out->push_back(static_cast<char>(c));
        }
    }
    out->push_back('"');
}

void append_json_number(std::string *out, double value)
{
    if (!isfinite(value)) {
        out->append("null");
        return;
    }
    char buf[32];
    snprintf(buf, sizeof buf, "%.17g", value);
    out->append(buf);
}

}  // namespace orvextool
