#include "raster.h"

#include <math.h>

#include <algorithm>

namespace orvextool {

bool close_ring_over_pole(std::vector<PixelPoint> *lonlat)
{
    if (lonlat->size() < 2) return false;
    const PixelPoint first = lonlat->front(), last = lonlat->back();
    if (fabs(last.x - first.x) <= 180) return false;
    double sum = 0;
    for (const PixelPoint &p : *lonlat) sum += p.y;
    double pole = sum < 0 ? -90.0 : 90.0;
    lonlat->push_back(PixelPoint{last.x, pole});
    lonlat->push_back(PixelPoint{first.x, pole});
    return true;
}

bool meridian_cut_edge(const PixelPoint &a, const PixelPoint &b)
{
    if (fabs(a.x - b.x) > 1e-6) return false;
    double turns = (a.x - 180.0) / 360.0;
    return fabs(turns - floor(turns + 0.5)) * 360.0 < 1e-6;
}

}  // namespace orvextool
