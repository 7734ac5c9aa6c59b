// An RGB image, points in its pixel space, and the two questions a ring's
// drawing asks of its longitudes: does it go round a pole, and is an edge a
// cut along the 180 degree meridian rather than a shore.
#ifndef ORVEX_TOOL_RASTER_H
#define ORVEX_TOOL_RASTER_H

#include <vector>

#include "palette.h"

namespace orvextool {

struct Image {
    long width = 0, height = 0;
    std::vector<Rgb> pixels; /* row-major, top row first */
    Image(long w, long h, Rgb background) : width(w), height(h), pixels(static_cast<size_t>(w * h), background) {}
    Rgb &at(long x, long y) { return pixels[static_cast<size_t>(y * width + x)]; }
};

/* A point in pixel coordinates: x to the right, y downward, the pixel (i, j)
 * covering [i, i + 1) x [j, j + 1). */
struct PixelPoint {
    double x, y;
};

/* A ring of unwrapped longitudes whose last point lies more than 180
 * degrees east or west of its first goes round a pole (Antarctica in a
 * shoreline file, say). Closes it along the nearer pole by adding two points
 * at latitude +-90, so that it fills as an ordinary ring. Points are
 * (longitude, latitude) in degrees; returns true when it added the points. */
bool close_ring_over_pole(std::vector<PixelPoint> *lonlat);

/* True for an edge that runs along the 180 degree meridian (or a turn of
 * 360 degrees from it): where shoreline sources cut a ring that crosses
 * it, an edge that is no shore. Points are (longitude, latitude). */
bool meridian_cut_edge(const PixelPoint &a, const PixelPoint &b);

}  // namespace orvextool

#endif
