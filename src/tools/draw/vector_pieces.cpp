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
    for (int d = 0; d < 90; d++) {
        /* Mercator's rows stretch by 1 / cos(latitude); past the latitude
         * where the view cuts them short they stretch no more. */
        double lat = std::min(d + 1.0, 89.9) * M_PI / 180.0;
        lat_scale_[d] = y_scale_ * (view.mercator ? M_PI / 180.0 / cos(lat) : 1.0);
    }
}

std::vector<PixelPoint> PixelMapper::thin(const std::vector<PixelPoint> &lonlat, double radius) const
{
    if (lonlat.size() <= 2) return lonlat;
    std::vector<PixelPoint> out;
    out.reserve(lonlat.size());
    out.push_back(lonlat.front());
    const double r2 = radius * radius;
    for (size_t k = 1; k + 1 < lonlat.size(); k++) {
        const PixelPoint &p = lonlat[k], &q = out.back();
        int band = static_cast<int>(std::max(fabs(p.y), fabs(q.y)));
        double dx = (p.x - q.x) * x_scale_, dy = (p.y - q.y) * lat_scale_[std::min(band, 89)];
        if (dx * dx + dy * dy >= r2) out.push_back(p);
    }
    out.push_back(lonlat.back());
    return out;
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

}  // namespace orvexcli
