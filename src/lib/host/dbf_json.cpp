// The attributes of one .dbf record as a JSON object, the form the
// "attributes" column keeps so that features can be selected with SQLite's
// JSON functions whatever fields each imported file has.

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "shapefile_io.h"

namespace {

// Length of the UTF-8 sequence starting at s (at most n bytes), or 0 when
// it is not a well-formed one.
size_t utf8_sequence(const unsigned char *s, size_t n)
{
    unsigned char c = s[0];
    size_t len;
    unsigned int min;
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (len > n) return 0;
    unsigned int cp = c & (0x7F >> len);
    for (size_t i = 1; i < len; i++) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

bool valid_utf8(const char *text)
{
    const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
    size_t n = strlen(text);
    for (size_t i = 0; i < n;) {
        size_t len = utf8_sequence(s + i, n - i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

// A JSON string. Text that is not UTF-8 is taken as Latin-1, the usual
// code page of .dbf files that declare none.
void append_string(std::string &out, const char *text)
{
    bool utf8 = valid_utf8(text);
    out += '"';
    for (const unsigned char *s = reinterpret_cast<const unsigned char *>(text); *s; s++) {
        unsigned char c = *s;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else if (c >= 0x80 && !utf8) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// True when the text is a number in JSON's own syntax.
bool json_number(const char *s)
{
    if (*s == '-') s++;
    if (*s == '0') {
        s++;
    } else if (is_digit(*s)) {
        while (is_digit(*s)) s++;
    } else {
        return false;
    }
    if (*s == '.') {
        s++;
        if (!is_digit(*s)) return false;
        while (is_digit(*s)) s++;
    }
    if (*s == 'e' || *s == 'E') {
        s++;
        if (*s == '+' || *s == '-') s++;
        if (!is_digit(*s)) return false;
        while (is_digit(*s)) s++;
    }
    return *s == '\0';
}

// A numeric field: kept as written when that is a JSON number, rewritten
// when it is a number in another spelling ("+1", "1.", " 2"), a string
// otherwise (a damaged field is kept, not lost).
void append_number(std::string &out, const char *text)
{
    if (json_number(text)) {
        out += text;
        return;
    }
    char *end = nullptr;
    double v = strtod(text, &end);
    while (end && *end == ' ') end++;
    if (end && end != text && *end == '\0' && isfinite(v)) {
        char buf[32];
        snprintf(buf, sizeof buf, "%.17g", v);
        out += buf;
        return;
    }
    append_string(out, text);
}

void append_logical(std::string &out, const char *text)
{
    switch (text[0]) {
    case 'T': case 't': case 'Y': case 'y': out += "true"; break;
    case 'F': case 'f': case 'N': case 'n': out += "false"; break;
    default: out += "null"; break;  // '?' or blank: not set
    }
}

}  // namespace

bool dbf_attributes_json(DBFHandle dbf, int record, std::string *out)
{
    try {
        out->assign("{");
        int nfields = dbf ? DBFGetFieldCount(dbf) : 0;
        for (int f = 0; f < nfields; f++) {
            char name[XBASE_FLDNAME_LEN_READ + 1] = {0};
            DBFFieldType type = DBFGetFieldInfo(dbf, f, name, nullptr, nullptr);
            if (f > 0) out->push_back(',');
            append_string(*out, name);
            out->push_back(':');
            if (DBFIsAttributeNULL(dbf, record, f)) {
                *out += "null";
                continue;
            }
            const char *text = DBFReadStringAttribute(dbf, record, f);
            if (!text) {
                *out += "null";
            } else if (type == FTInteger || type == FTDouble) {
                append_number(*out, text);
            } else if (type == FTLogical) {
                append_logical(*out, text);
            } else {
                append_string(*out, text);
            }
        }
        out->push_back('}');
    } catch (...) {
        return false;
    }
    return true;
}
