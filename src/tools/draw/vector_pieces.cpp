#include "vector_pieces.h"

#include <math.h>

#include <algorithm>

namespace orvexcli {

using orvextool::PixelBox;
using orvextool::PixelPoint;

std::vector<double> shifts_into_view(double lo, double hi, const View &view, double margin)
{
    std::vector<double> out;
    for (int k = -3; k <= 3; k++) {
        double s = 360.0 * k;
        if (hi + s >= view.region.west - margin && lo + s <= view.region.east + margin) out.push_back(s);
    }
    return out;
}

namespace {

/* Latitudes the view's rows are measured in: Mercator's stretched ones
 * (cut short of the poles, where they run to infinity, as the view does)
 * or the plain ones. */
double row_measure(bool mercator, double lat)
{
    if (!mercator) return lat;
    lat = std::max(-89.9, std::min(89.9, lat));
    return atanh(sin(lat * M_PI / 180.0));
}

}  // namespace

/* Rows are linear in the row measure: y = offset - scale * measure. The two
 * constants come from the view itself, so both always agree. */
PixelMapper::PixelMapper(const View &view) : view_(view), x_scale_(1.0 / view.dlon())
{
    y_offset_ = view.y_of(0.0);
    y_scale_ = (y_offset_ - view.y_of(45.0)) / row_measure(view.mercator, 45.0);
}

PixelPoint PixelMapper::operator()(double lon, double lat) const
{
    return PixelPoint{(lon - view_.region.west) * x_scale_, y_offset_ - y_scale_ * row_measure(view_.mercator, lat)};
}

std::vector<PixelPoint> PixelMapper::project(const std::vector<PixelPoint> &lonlat, double shift) const
{
    std::vector<PixelPoint> out;
    out.reserve(lonlat.size() + 2);
    for (const PixelPoint &p : lonlat) out.push_back((*this)(p.x + shift, p.y));
    return out;
}

PixelBox PixelMapper::box_of(const Ring &ring, double shift) const
{
    PixelPoint nw = (*this)(ring.lonmin + shift, ring.latmax), se = (*this)(ring.lonmax + shift, ring.latmin);
    return PixelBox{nw.x, nw.y, se.x, se.y};
}

bool apart(const PixelBox &a, const PixelBox &b)
{
    return a.x1 < b.x0 || b.x1 < a.x0 || a.y1 < b.y0 || b.y1 < a.y0;
}

PixelBox view_box(const View &view, double margin)
{
    return PixelBox{-margin, -margin, static_cast<double>(view.width) + margin,
                    static_cast<double>(view.height) + margin};
}

bool for_each_band(const View &view, cairo_format_t format,
                   const std::function<void(cairo_surface_t *, long)> &before,
                   const std::function<void(cairo_t *)> &draw,
                   const std::function<void(cairo_surface_t *, long)> &after)
{
    /* About 4 million pixels a band: 16 MB of ARGB. */
    const long band = std::max(1L, std::min(view.height, (4L << 20) / std::max(1L, view.width)));
    for (long y0 = 0; y0 < view.height; y0 += band) {
        long rows = std::min(band, view.height - y0);
        cairo_surface_t *surface = cairo_image_surface_create(format, static_cast<int>(view.width), static_cast<int>(rows));
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            return false;
        }
        before(surface, y0);
        cairo_surface_mark_dirty(surface);
        cairo_t *cr = cairo_create(surface);
        cairo_translate(cr, 0, -static_cast<double>(y0));
        draw(cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        after(surface, y0);
        cairo_surface_destroy(surface);
    }
    return true;
}

void add_to_path(cairo_t *cr, const std::vector<PixelPoint> &points, bool close)
{
    if (points.empty()) return;
    cairo_move_to(cr, points[0].x, points[0].y);
    for (size_t k = 1; k < points.size(); k++) cairo_line_to(cr, points[k].x, points[k].y);
    if (close) cairo_close_path(cr);
}

}  // namespace orvexcli
