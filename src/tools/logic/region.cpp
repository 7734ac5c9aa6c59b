#include "region.h"

#include <math.h>

#include <vector>

#include "args.h"

namespace orvextool {

bool parse_region(const char *text, Region *region, std::string *why)
{
    std::vector<double> v;
    std::string s = text ? text : "";
    size_t start = 0;
    while (true) {
        size_t slash = s.find('/', start);
        std::string part = s.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        double d = 0;
        if (!parse_double(part.c_str(), &d)) {
            *why = "'" + s + "' is not W/E/S/N in degrees";
            return false;
        }
        v.push_back(d);
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    if (v.size() != 4) {
        *why = "'" + s + "' must have four values W/E/S/N";
        return false;
    }
    Region r;
    r.west = v[0];
    r.east = v[1];
    r.south = v[2];
    r.north = v[3];
    if (r.west < -360 || r.west > 360 || r.east < -360 || r.east > 360) {
        *why = "longitudes must lie within -360 and 360";
        return false;
    }
    if (r.south < -90 || r.north > 90 || r.south >= r.north) {
        *why = "latitudes must satisfy -90 <= S < N <= 90";
        return false;
    }
    if (r.east <= r.west) r.east += 360; /* crosses the 180 degree meridian */
    if (r.width() <= 0 || v[0] == v[1]) {
        *why = "'" + s + "' is empty: W and E are the same meridian";
        return false;
    }
    if (r.width() > 360) {
        *why = "a region spans at most 360 degrees of longitude";
        return false;
    }
    *region = r;
    return true;
}

long region_height_px(const Region &region, long width)
{
    double h = static_cast<double>(width) * region.height() / region.width();
    long px = static_cast<long>(lround(h));
    return px < 1 ? 1 : px;
}

}  // namespace orvextool
