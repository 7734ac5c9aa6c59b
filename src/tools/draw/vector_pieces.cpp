#include "vector_pieces.h"

#include <math.h>

#include <algorithm>

namespace orvexcli {

using orvextool::PixelBox;
using orvextool::PixelPoint;

Reach::Reach(const View &view, double margin)
    : west_(view.region.west - margin * view.dlon()), east_(view.region.east + margin * view.dlon()),
      south_(view.lat_at(static_cast<double>(view.height) + margin)), north_(view.lat_at(-margin))
{
}

Shifts Reach::shifts(const Ring &ring) const
{
    Shifts out;
    if (ring.latmax < south_ || ring.latmin > north_) return out;
    for (int k = -3; k <= 3; k++) {
        double s = 360.0 * k;
        if (ring.lonmax + s >= west_ && ring.lonmin + s <= east_) out.turn[out.count++] = s;
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

namespace {

PixelPoint onto(const PixelPoint &p, const LonLatBox &box)
{
    return PixelPoint{std::max(box.west, std::min(box.east, p.x)), std::max(box.south, std::min(box.north, p.y))};
}

/* True when a, b and c lie on one edge line of the box. */
bool along_one_edge(const PixelPoint &a, const PixelPoint &b, const PixelPoint &c, const LonLatBox &box)
{
    for (double x : {box.west, box.east})
        if (a.x == x && b.x == x && c.x == x) return true;
    for (double y : {box.south, box.north})
        if (a.y == y && b.y == y && c.y == y) return true;
    return false;
}

}  // namespace

std::vector<PixelPoint> points_near_box(const Ring &ring, const LonLatBox &box)
{
    const std::vector<PixelPoint> &pts = ring.lonlat;
    const size_t chunks = ring.chunk_min.size();
    if (chunks == 0 || chunks != (pts.size() + Ring::kChunk - 1) / Ring::kChunk) return pts;
    std::vector<PixelPoint> out;
    for (size_t c = 0; c < chunks; c++) {
        const PixelPoint &lo = ring.chunk_min[c], &hi = ring.chunk_max[c];
        size_t first = c * Ring::kChunk, end = std::min(pts.size(), first + Ring::kChunk);
        bool beyond = hi.x < box.west || lo.x > box.east || hi.y < box.south || lo.y > box.north;
        if (beyond) {
            out.push_back(pts[first]);
            if (end - 1 > first) out.push_back(pts[end - 1]);
        } else {
            out.insert(out.end(), pts.begin() + static_cast<long>(first), pts.begin() + static_cast<long>(end));
        }
    }
    return out;
}

std::vector<PixelPoint> fold_onto_box(const std::vector<PixelPoint> &ring, const LonLatBox &box)
{
    const size_t n = ring.size();
    if (n < 3) return ring;
    std::vector<unsigned> codes(n);
    bool any_outside = false;
    for (size_t k = 0; k < n; k++) any_outside |= (codes[k] = box.outcode(ring[k])) != 0;
    if (!any_outside) return ring;
    std::vector<PixelPoint> out;
    std::vector<char> moved;
    out.reserve(n);
    for (size_t k = 0; k < n; k++) {
        unsigned prev = codes[(k + n - 1) % n], next = codes[(k + 1) % n];
        bool far = (codes[k] & prev) && (codes[k] & next);
        PixelPoint p = far ? onto(ring[k], box) : ring[k];
        /* A moved point between two moved points on the same edge line
         * adds nothing. */
        if (far && out.size() >= 2 && moved.back() && moved[moved.size() - 2] &&
            along_one_edge(out[out.size() - 2], out.back(), p, box)) {
            out.back() = p;
            continue;
        }
        if (!out.empty() && out.back().x == p.x && out.back().y == p.y) continue;
        out.push_back(p);
        moved.push_back(far);
    }
    return out;
}

std::vector<std::vector<PixelPoint>> runs_near_box(const std::vector<PixelPoint> &line, const LonLatBox &box)
{
    std::vector<std::vector<PixelPoint>> runs;
    unsigned last = line.empty() ? 0 : box.outcode(line[0]);
    for (size_t k = 0; k + 1 < line.size(); k++) {
        unsigned code = box.outcode(line[k + 1]);
        if (!(code & last)) {
            if (runs.empty() || runs.back().empty()) {
                if (runs.empty()) runs.emplace_back();
                runs.back().push_back(line[k]);
            }
            runs.back().push_back(line[k + 1]);
        } else if (!runs.empty() && !runs.back().empty()) {
            runs.emplace_back();
        }
        last = code;
    }
    if (!runs.empty() && runs.back().empty()) runs.pop_back();
    return runs;
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
