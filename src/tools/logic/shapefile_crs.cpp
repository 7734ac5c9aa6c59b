#include "shapefile_crs.h"

#include <ctype.h>

namespace orvextool {

std::string prj_path_for(const std::string &shp)
{
    size_t dot = shp.find_last_of('.'), slash = shp.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return shp + ".prj";
    return shp.substr(0, dot) + ".prj";
}

namespace {

/* Upper case without blanks or quotes, so that spellings of one text agree. */
std::string squeezed(const std::string &text)
{
    std::string out;
    for (char c : text)
        if (!isspace(static_cast<unsigned char>(c)) && c != '"') out += static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return out;
}

bool has(const std::string &text, const char *part) { return text.find(part) != std::string::npos; }

}  // namespace

bool prj_is_lonlat_wgs84(const std::string &text)
{
    const std::string s = squeezed(text);
    if (s.empty()) return true;
    /* One geographic system, not a projection of one. */
    if (s.compare(0, 7, "GEOGCS[") != 0 || has(s, "PROJCS[") || has(s, "PROJECTION[")) return false;
    bool wgs84 = has(s, "DATUM[D_WGS_1984") || has(s, "DATUM[WGS_1984") || has(s, "DATUM[WGS84");
    bool greenwich = false;
    for (const char *zero : {"PRIMEM[GREENWICH,0]", "PRIMEM[GREENWICH,0,", "PRIMEM[GREENWICH,0.0]", "PRIMEM[GREENWICH,0.0,"})
        greenwich = greenwich || has(s, zero);
    bool degrees = has(s, "UNIT[DEGREE,0.0174532925199");
    return wgs84 && greenwich && degrees;
}

}  // namespace orvextool
