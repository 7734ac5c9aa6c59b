// What the land cover and the lines share: rings turned into pixel
// coordinates of a view, once for every turn of 360 degrees that brings
// them into it, and Cairo surfaces over the picture in bands of rows.
#ifndef ORVEX_TOOL_VECTOR_PIECES_H
#define ORVEX_TOOL_VECTOR_PIECES_H

#include <cairo.h>

#include <functional>
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
    /* The pixel box of a ring's longitude and latitude box, shifted. */
    orvextool::PixelBox box_of(const Ring &ring, double shift) const;

private:
    const View &view_;
    double x_scale_, y_offset_, y_scale_;
};

/* True when two boxes share no point. */
bool apart(const orvextool::PixelBox &a, const orvextool::PixelBox &b);

/* The view grown by `margin` pixels on every side. */
orvextool::PixelBox view_box(const View &view, double margin);

/* Runs `draw` over a surface of `format` for each band of rows of the view,
 * its user space the view's pixel space (only the band's rows land on the
 * surface). `before` and `after` move pixels in and out of the band:
 * before(surface, first row), after(surface, first row). Bands keep a
 * large picture's surface small; a web tile is one band. Returns false
 * when Cairo cannot make a surface (out of memory). */
bool for_each_band(const View &view, cairo_format_t format,
                   const std::function<void(cairo_surface_t *, long)> &before,
                   const std::function<void(cairo_t *)> &draw,
                   const std::function<void(cairo_surface_t *, long)> &after);

/* Adds a polyline (closed when `close`) to the current path. */
void add_to_path(cairo_t *cr, const std::vector<orvextool::PixelPoint> &points, bool close);

}  // namespace orvexcli

#endif
