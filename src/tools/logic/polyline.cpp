#include "polyline.h"

#include <math.h>

#include <algorithm>
#include <utility>

namespace orvextool {

PixelBox box_of(const std::vector<PixelPoint> &points)
{
    PixelBox b{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const PixelPoint &p : points) {
        b.x0 = std::min(b.x0, p.x);
        b.y0 = std::min(b.y0, p.y);
        b.x1 = std::max(b.x1, p.x);
        b.y1 = std::max(b.y1, p.y);
    }
    return b;
}

namespace {

/* Liang-Barsky: narrows [t0, t1] to the part of a + t (b - a) inside the
 * box; false when nothing is left. */
bool clip_segment(const PixelPoint &a, const PixelPoint &b, const PixelBox &box, double *t0, double *t1)
{
    double dx = b.x - a.x, dy = b.y - a.y;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x - box.x0, box.x1 - a.x, a.y - box.y0, box.y1 - a.y};
    *t0 = 0;
    *t1 = 1;
    for (int k = 0; k < 4; k++) {
        if (p[k] == 0) {
            if (q[k] < 0) return false;
            continue;
        }
        double t = q[k] / p[k];
        if (p[k] < 0) *t0 = std::max(*t0, t);
        else *t1 = std::min(*t1, t);
        if (*t0 > *t1) return false;
    }
    return true;
}

PixelPoint along(const PixelPoint &a, const PixelPoint &b, double t)
{
    return PixelPoint{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
}

/* One step of Sutherland-Hodgman: keeps the side of one edge of the box
 * where `inside` holds, `cross` giving the point where a segment meets it. */
template <class Inside, class Cross>
std::vector<PixelPoint> clip_side(const std::vector<PixelPoint> &in, Inside inside, Cross cross)
{
    std::vector<PixelPoint> out;
    size_t n = in.size();
    out.reserve(n + 4);
    for (size_t i = 0; i < n; i++) {
        const PixelPoint &a = in[(i + n - 1) % n], &b = in[i];
        bool ia = inside(a), ib = inside(b);
        if (ib) {
            if (!ia) out.push_back(cross(a, b));
            out.push_back(b);
        } else if (ia) {
            out.push_back(cross(a, b));
        }
    }
    return out;
}

double perpendicular_distance(const PixelPoint &p, const PixelPoint &a, const PixelPoint &b)
{
    double dx = b.x - a.x, dy = b.y - a.y;
    double len2 = dx * dx + dy * dy;
    double px = p.x - a.x, py = p.y - a.y;
    if (len2 == 0) return sqrt(px * px + py * py);
    /* Distance to the segment, not the infinite line: a ring closes on its
     * first point, where the chord is a point. */
    double t = std::max(0.0, std::min(1.0, (px * dx + py * dy) / len2));
    double ex = px - t * dx, ey = py - t * dy;
    return sqrt(ex * ex + ey * ey);
}

void mark_kept(const std::vector<PixelPoint> &pts, double tolerance, std::vector<char> *keep)
{
    std::vector<std::pair<size_t, size_t>> stack{{0, pts.size() - 1}};
    while (!stack.empty()) {
        auto [first, last] = stack.back();
        stack.pop_back();
        double worst = -1;
        size_t at = first;
        for (size_t k = first + 1; k < last; k++) {
            double d = perpendicular_distance(pts[k], pts[first], pts[last]);
            if (d > worst) worst = d, at = k;
        }
        if (worst <= tolerance) continue;
        (*keep)[at] = 1;
        stack.push_back({first, at});
        stack.push_back({at, last});
    }
}

}  // namespace

std::vector<std::vector<PixelPoint>> clip_polyline(const std::vector<PixelPoint> &line, const PixelBox &box)
{
    std::vector<std::vector<PixelPoint>> parts;
    std::vector<PixelPoint> current;
    auto finish = [&]() {
        if (current.size() >= 2) parts.push_back(std::move(current));
        current.clear();
    };
    for (size_t i = 0; i + 1 < line.size(); i++) {
        double t0, t1;
        if (!clip_segment(line[i], line[i + 1], box, &t0, &t1)) {
            finish();
            continue;
        }
        if (current.empty() || t0 > 0) {
            finish();
            current.push_back(along(line[i], line[i + 1], t0));
        }
        current.push_back(t1 < 1 ? along(line[i], line[i + 1], t1) : line[i + 1]);
        if (t1 < 1) finish();
    }
    finish();
    return parts;
}

std::vector<PixelPoint> clip_ring(const std::vector<PixelPoint> &ring, const PixelBox &box)
{
    PixelBox b = box_of(ring);
    if (b.x0 >= box.x0 && b.x1 <= box.x1 && b.y0 >= box.y0 && b.y1 <= box.y1) return ring;
    auto at_x = [](double x) {
        return [x](const PixelPoint &a, const PixelPoint &c) { return along(a, c, (x - a.x) / (c.x - a.x)); };
    };
    auto at_y = [](double y) {
        return [y](const PixelPoint &a, const PixelPoint &c) { return along(a, c, (y - a.y) / (c.y - a.y)); };
    };
    std::vector<PixelPoint> out = ring;
    out = clip_side(out, [&](const PixelPoint &p) { return p.x >= box.x0; }, at_x(box.x0));
    out = clip_side(out, [&](const PixelPoint &p) { return p.x <= box.x1; }, at_x(box.x1));
    out = clip_side(out, [&](const PixelPoint &p) { return p.y >= box.y0; }, at_y(box.y0));
    out = clip_side(out, [&](const PixelPoint &p) { return p.y <= box.y1; }, at_y(box.y1));
    return out;
}

std::vector<PixelPoint> simplify_polyline(const std::vector<PixelPoint> &line, double tolerance)
{
    if (line.size() <= 2 || !(tolerance > 0)) return line;
    double half = tolerance / 2, half2 = half * half;
    std::vector<PixelPoint> near;
    near.reserve(line.size());
    near.push_back(line.front());
    for (size_t k = 1; k + 1 < line.size(); k++) {
        double dx = line[k].x - near.back().x, dy = line[k].y - near.back().y;
        if (dx * dx + dy * dy >= half2) near.push_back(line[k]);
    }
    near.push_back(line.back());
    return douglas_peucker(near, half);
}

std::vector<PixelPoint> douglas_peucker(const std::vector<PixelPoint> &line, double tolerance)
{
    if (line.size() <= 2 || !(tolerance > 0)) return line;
    std::vector<char> keep(line.size(), 0);
    keep.front() = keep.back() = 1;
    mark_kept(line, tolerance, &keep);
    std::vector<PixelPoint> out;
    for (size_t k = 0; k < line.size(); k++)
        if (keep[k]) out.push_back(line[k]);
    return out;
}

}  // namespace orvextool
