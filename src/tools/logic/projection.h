// The two projections of a picture: plate carree for `orvex render`, Web
// Mercator for the tiles of `orvex serve`.
#ifndef ORVEX_TOOL_PROJECTION_H
#define ORVEX_TOOL_PROJECTION_H

#include "region.h"

namespace orvextool {

/* Geometry of the picture. Columns are evenly spaced in longitude: pixel
 * column i covers longitudes from west + i * dlon. Rows are evenly spaced
 * in latitude (plate carree) or in Mercator's stretched latitude (web
 * tiles), from `north` at the top edge to `south` at the bottom edge. */
struct View {
    Region region;
    long width = 0, height = 0;
    bool mercator = false;
    double dlon() const { return region.width() / static_cast<double>(width); }
    /* Longitude and latitude at pixel coordinates x, y (pixel (i, j) spans
     * [i, i + 1) x [j, j + 1)), and back. */
    double lon_at(double x) const { return region.west + x * dlon(); }
    double lat_at(double y) const;
    double x_of(double lon) const { return (lon - region.west) / dlon(); }
    double y_of(double lat) const;
    /* Ground size in metres of a pixel of row y, east-west and north-south. */
    void pixel_metres(double y, double *east, double *north) const;
};

/* The standard web-map tile z/x/y: 256 pixels square in Web Mercator, x
 * eastward from 180 degrees west, y southward from about 85 degrees north. */
View web_tile_view(int z, long x, long y);

}  // namespace orvextool

#endif
