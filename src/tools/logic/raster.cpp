#include "raster.h"

#include <math.h>

#include <algorithm>

namespace orvextool {

void fill_ring_spans(long width, long height, const std::vector<PixelPoint> &ring,
                     const std::function<void(long, long, long)> &span)
{
    size_t n = ring.size();
    if (n < 3) return;
    double ymin = ring[0].y, ymax = ring[0].y;
    for (const PixelPoint &p : ring) {
        ymin = std::min(ymin, p.y);
        ymax = std::max(ymax, p.y);
    }
    /* Rows whose centre (j + 0.5) lies within the ring's latitude span. */
    long j0 = std::max(0L, static_cast<long>(ceil(ymin - 0.5)));
    long j1 = std::min(height - 1, static_cast<long>(floor(ymax - 0.5)));
    if (j0 > j1) return;
    std::vector<std::vector<double>> crossings(static_cast<size_t>(j1 - j0 + 1));
    for (size_t i = 0; i < n; i++) {
        const PixelPoint &a = ring[i];
        const PixelPoint &b = ring[(i + 1) % n];
        if (a.y == b.y) continue;
        double lo = std::min(a.y, b.y), hi = std::max(a.y, b.y);
        /* Half-open in y so that a vertex shared by two edges counts once. */
        long r0 = std::max(j0, static_cast<long>(ceil(lo - 0.5)));
        long r1 = std::min(j1, static_cast<long>(ceil(hi - 0.5)) - 1);
        for (long j = r0; j <= r1; j++) {
            double yc = j + 0.5;
            double t = (yc - a.y) / (b.y - a.y);
            crossings[static_cast<size_t>(j - j0)].push_back(a.x + t * (b.x - a.x));
        }
    }
    for (long j = j0; j <= j1; j++) {
        std::vector<double> &xs = crossings[static_cast<size_t>(j - j0)];
        std::sort(xs.begin(), xs.end());
        for (size_t k = 0; k + 1 < xs.size(); k += 2) {
            long i0 = std::max(0L, static_cast<long>(ceil(xs[k] - 0.5)));
            long i1 = std::min(width - 1, static_cast<long>(ceil(xs[k + 1] - 0.5)) - 1);
            if (i0 <= i1) span(j, i0, i1);
        }
    }
}

void fill_ring(Image *image, const std::vector<PixelPoint> &ring, Rgb colour, double alpha)
{
    fill_ring_spans(image->width, image->height, ring, [&](long j, long i0, long i1) {
        for (long i = i0; i <= i1; i++) image->at(i, j) = blend(image->at(i, j), colour, alpha);
    });
}

namespace {

void plot(Image *image, long x, long y, Rgb colour)
{
    if (x >= 0 && y >= 0 && x < image->width && y < image->height) image->at(x, y) = colour;
}

void draw_segment(Image *image, PixelPoint a, PixelPoint b, Rgb colour)
{
    /* Skip segments far outside the image before stepping along them. */
    double w = static_cast<double>(image->width), h = static_cast<double>(image->height);
    if ((a.x < -1 && b.x < -1) || (a.x > w + 1 && b.x > w + 1) || (a.y < -1 && b.y < -1) ||
        (a.y > h + 1 && b.y > h + 1))
        return;
    double dx = b.x - a.x, dy = b.y - a.y;
    double steps = std::max(fabs(dx), fabs(dy));
    if (steps > 4 * (w + h)) return; /* a degenerate jump, not a shoreline */
    long n = static_cast<long>(ceil(steps));
    if (n < 1) n = 1;
    for (long k = 0; k <= n; k++) {
        double t = static_cast<double>(k) / static_cast<double>(n);
        plot(image, static_cast<long>(floor(a.x + t * dx)), static_cast<long>(floor(a.y + t * dy)), colour);
    }
}

}  // namespace

void draw_polyline(Image *image, const std::vector<PixelPoint> &line, Rgb colour)
{
    for (size_t i = 0; i + 1 < line.size(); i++) draw_segment(image, line[i], line[i + 1], colour);
    if (line.size() == 1) plot(image, static_cast<long>(floor(line[0].x)), static_cast<long>(floor(line[0].y)), colour);
}

bool close_ring_over_pole(std::vector<PixelPoint> *lonlat)
{
    if (lonlat->size() < 2) return false;
    const PixelPoint first = lonlat->front(), last = lonlat->back();
    if (fabs(last.x - first.x) <= 180) return false;
    double sum = 0;
    for (const PixelPoint &p : *lonlat) sum += p.y;
    double pole = sum < 0 ? -90.0 : 90.0;
    lonlat->push_back(PixelPoint{last.x, pole});
    lonlat->push_back(PixelPoint{first.x, pole});
    return true;
}

bool meridian_cut_edge(const PixelPoint &a, const PixelPoint &b)
{
    if (fabs(a.x - b.x) > 1e-6) return false;
    double turns = (a.x - 180.0) / 360.0;
    return fabs(turns - floor(turns + 0.5)) * 360.0 < 1e-6;
}

}  // namespace orvextool
