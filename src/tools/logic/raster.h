// An RGB image and the two drawing operations a map needs: filling a ring
// (even-odd rule, sampled at pixel centres) and drawing a polyline.
#ifndef ORVEX_TOOL_RASTER_H
#define ORVEX_TOOL_RASTER_H

#include <functional>
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

/* Calls `span(row, first, last)` for every run of pixels of a width x height
 * raster whose centres lie inside a closed ring (the last point joins the
 * first; even-odd rule). */
void fill_ring_spans(long width, long height, const std::vector<PixelPoint> &ring,
                     const std::function<void(long, long, long)> &span);
/* Fills the inside of a closed ring on an image. */
void fill_ring(Image *image, const std::vector<PixelPoint> &ring, Rgb colour, double alpha);
/* Draws the segments between consecutive points, one pixel wide. */
void draw_polyline(Image *image, const std::vector<PixelPoint> &line, Rgb colour);

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
