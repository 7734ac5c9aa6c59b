// Geometry of lines and rings in pixel space, done before a rasteriser sees
// them: clipping to a rectangle round the picture (so that rings far larger
// than the view cost little and no coordinate overflows the rasteriser's
// fixed-point range) and simplification to a fraction of a pixel.
#ifndef ORVEX_TOOL_POLYLINE_H
#define ORVEX_TOOL_POLYLINE_H

#include <vector>

#include "raster.h"

namespace orvextool {

/* An axis-aligned rectangle in pixel coordinates. */
struct PixelBox {
    double x0, y0, x1, y1;
    bool contains(const PixelPoint &p) const { return p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1; }
};

/* The box of some points; an empty list gives an inverted box. */
PixelBox box_of(const std::vector<PixelPoint> &points);

/* The parts of a polyline inside `box`, each a polyline of two points or
 * more; a segment that leaves and re-enters starts a new part. */
std::vector<std::vector<PixelPoint>> clip_polyline(const std::vector<PixelPoint> &line, const PixelBox &box);

/* A closed ring (the last point joins the first) cut to `box`: the same
 * area inside the box, with runs outside it replaced by points on its
 * edges. Fill rules give the same pixels inside the box. */
std::vector<PixelPoint> clip_ring(const std::vector<PixelPoint> &ring, const PixelBox &box);

/* A polyline with fewer points: the first and last always kept, and every
 * dropped point within `tolerance` pixels of the line through the kept
 * ones. Points closer than half the tolerance to the last kept one go
 * first (cheap, and most of a detailed ring at a small scale), then
 * Douglas-Peucker at the other half. */
std::vector<PixelPoint> simplify_polyline(const std::vector<PixelPoint> &line, double tolerance);
/* Douglas-Peucker alone: the first and last points kept, and every dropped
 * point within `tolerance` of the line through the kept ones. */
std::vector<PixelPoint> douglas_peucker(const std::vector<PixelPoint> &line, double tolerance);

}  // namespace orvextool

#endif
