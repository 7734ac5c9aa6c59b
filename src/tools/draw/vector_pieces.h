// What the land cover and the lines share: rings turned into pixel
// coordinates of a view, once for every turn of 360 degrees that brings
// them into it.
#ifndef ORVEX_TOOL_VECTOR_PIECES_H
#define ORVEX_TOOL_VECTOR_PIECES_H

#include <vector>

#include "polyline.h"
#include "vectors.h"

namespace orvexcli {

/* Turns of 360 degrees that bring the longitudes lo..hi into the view, or
 * within `margin` degrees of it. */
std::vector<double> shifts_into_view(double lo, double hi, const View &view, double margin = 0);

/* Longitude and latitude to pixel coordinates of a view, with the row
 * arithmetic of the projection worked out once rather than per point. */
class PixelMapper {
public:
    explicit PixelMapper(const View &view);
    orvextool::PixelPoint operator()(double lon, double lat) const;
    std::vector<orvextool::PixelPoint> project(const std::vector<orvextool::PixelPoint> &lonlat, double shift) const;
    /* The points of a line in longitude and latitude without those that
     * lie within `radius` pixels of the last one kept (the first and last
     * always kept): most of a detailed ring at a small scale, dropped
     * before any is projected. Distances are measured at the scale of the
     * row nearer the pole, so none is underestimated. */
    std::vector<orvextool::PixelPoint> thin(const std::vector<orvextool::PixelPoint> &lonlat, double radius) const;
    /* The pixel box of a ring's longitude and latitude box, shifted. */
    orvextool::PixelBox box_of(const Ring &ring, double shift) const;

private:
    const View &view_;
    double x_scale_, y_offset_, y_scale_;
    /* Pixels per degree of latitude from |latitude| d to d + 1 degrees, at
     * most (at d + 1). */
    double lat_scale_[90];
};

/* True when two boxes share no point. */
bool apart(const orvextool::PixelBox &a, const orvextool::PixelBox &b);

/* The view grown by `margin` pixels on every side. */
orvextool::PixelBox view_box(const View &view, double margin);

}  // namespace orvexcli

#endif
