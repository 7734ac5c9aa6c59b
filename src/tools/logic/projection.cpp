// Only rows differ between the two projections; columns are evenly
// spaced in longitude in both.
#include <math.h>

#include "projection.h"

namespace orvextool {

namespace {

const double kMetresPerDegree = 111320.0;
/* Rings closed over a pole reach latitude 90, which Mercator sends to
 * infinity; this is far enough past any tile's edge. */
const double kMercatorLimit = 89.9;

double stretched(double lat)
{
    if (lat > kMercatorLimit) lat = kMercatorLimit;
    if (lat < -kMercatorLimit) lat = -kMercatorLimit;
    return log(tan(M_PI / 4 + lat * M_PI / 360.0));
}

double unstretched(double m)
{
    return atan(sinh(m)) * 180.0 / M_PI;
}

}  // namespace

double View::lat_at(double y) const
{
    double t = y / static_cast<double>(height);
    if (!mercator) return region.north - t * region.height();
    double top = stretched(region.north), bottom = stretched(region.south);
    return unstretched(top - t * (top - bottom));
}

double View::y_of(double lat) const
{
    if (!mercator) return (region.north - lat) / region.height() * static_cast<double>(height);
    double top = stretched(region.north), bottom = stretched(region.south);
    return (top - stretched(lat)) / (top - bottom) * static_cast<double>(height);
}

void View::pixel_metres(double y, double *east, double *north) const
{
    double lat = lat_at(y + 0.5);
    *east = dlon() * kMetresPerDegree * cos(lat * M_PI / 180.0);
    if (*east < 1) *east = 1;
    /* Mercator keeps pixels square on the ground. */
    *north = mercator ? *east : region.height() / static_cast<double>(height) * kMetresPerDegree;
}

View web_tile_view(int z, long x, long y)
{
    double n = ldexp(1.0, z);
    View v;
    v.mercator = true;
    v.width = v.height = 256;
    v.region.west = static_cast<double>(x) / n * 360.0 - 180.0;
    v.region.east = static_cast<double>(x + 1) / n * 360.0 - 180.0;
    v.region.north = unstretched(M_PI * (1 - 2 * static_cast<double>(y) / n));
    v.region.south = unstretched(M_PI * (1 - 2 * static_cast<double>(y + 1) / n));
    return v;
}

}  // namespace orvextool
