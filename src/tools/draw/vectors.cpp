// Vector resolutions on the picture: filled tiles become a raster of
// shoreline levels (land, lake, island in a lake, pond), unfilled tiles
// lines. Points are unwrapped along each segment, so rings that cross the
// 180 degree meridian stay whole; each ring is drawn once for every turn of
// 360 degrees that brings it into the picture.
#include <math.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <tuple>

#include "map_records.h"
#include "draw.h"

namespace orvexcli {

namespace {

using orvextool::PixelPoint;

/* The points of a segment as (longitude, latitude) degrees, unwrapped. GSHHS
 * inputs hold them big-endian. */
std::vector<PixelPoint> segment_points(const OrvexVectorSegment &seg, bool big_endian)
{
    std::vector<PixelPoint> out;
    out.reserve(static_cast<size_t>(seg.npts));
    OrvexXY xy;
    long offset = 0, last = 0;
    for (long k = 0; k < seg.npts; k++) {
        orvex_get_point(&seg, k, &xy);
        if (big_endian) N2H4(reinterpret_cast<unsigned char *>(&xy), reinterpret_cast<unsigned char *>(&xy), 2);
        int x = xy.lon_microdegrees, y = xy.lat_microdegrees;
        long lx = x + offset;
        if (k > 0) {
            while (lx - last > 180000000) lx -= 360000000, offset -= 360000000;
            while (lx - last < -180000000) lx += 360000000, offset += 360000000;
        }
        last = lx;
        out.push_back(PixelPoint{lx * 1e-6, y * 1e-6});
    }
    return out;
}

std::vector<PixelPoint> to_pixels(const std::vector<PixelPoint> &lonlat, double shift, const View &view)
{
    std::vector<PixelPoint> out;
    out.reserve(lonlat.size());
    for (const PixelPoint &p : lonlat) out.push_back(PixelPoint{view.x_of(p.x + shift), view.y_of(p.y)});
    return out;
}

/* Turns of 360 degrees that bring the longitudes lo..hi into the picture. */
std::vector<double> shifts_into_view(double lo, double hi, const View &view)
{
    std::vector<double> out;
    for (int k = -3; k <= 3; k++) {
        double s = 360.0 * k;
        if (hi + s >= view.region.west && lo + s <= view.region.east) out.push_back(s);
    }
    return out;
}

Ring make_ring(const OrvexVectorSegment &seg, bool fill, orvextool::Rgb colour, bool big_endian)
{
    Ring ring{seg.level, fill, colour, segment_points(seg, big_endian), 0, 0, 0, 0};
    ring.lonmin = ring.lonmax = ring.lonlat[0].x;
    ring.latmin = ring.latmax = ring.lonlat[0].y;
    for (const PixelPoint &p : ring.lonlat) {
        ring.lonmin = std::min(ring.lonmin, p.x);
        ring.lonmax = std::max(ring.lonmax, p.x);
        ring.latmin = std::min(ring.latmin, p.y);
        ring.latmax = std::max(ring.latmax, p.y);
    }
    return ring;
}

}  // namespace

/* Every segment of the chosen resolutions once: the tiles of a resolution
 * may each carry a copy of the same segments. */
std::vector<Ring> collect_rings(Orvex &map, const std::vector<int> &resolutions)
{
    std::vector<Ring> rings;
    std::set<std::tuple<int, int, int, int, int, int, long, long>> seen;
    for (int r : resolutions) {
        const OrvexResolution &res = map.frame.resolutions[r];
        const OrvexVector *v = vector_of(res);
        if (!v || !v->tiles) continue;
        bool big = res.data_type == ORVEX_DATA_GSHHS;
        for (long t = 0; t < res.ntiles; t++) {
            const OrvexVectorTile &tile = v->tiles[t];
            for (long s = 0; s < tile.nsegments; s++) {
                const OrvexVectorSegment &seg = tile.segments[s];
                if (seg.npts < 1 || !seg.pts) continue;
                auto key = std::make_tuple(r, seg.level, seg.lonmin, seg.lonmax, seg.latmin, seg.latmax, seg.npts,
                                           tile.fill ? 1L : 0L);
                if (!seen.insert(key).second) continue;
                rings.push_back(make_ring(seg, tile.fill != 0 || seg.fill != 0, orvextool::polyline_colour(res.name), big));
            }
        }
    }
    /* Lower levels first, so that lakes cover land and islands lakes. */
    std::stable_sort(rings.begin(), rings.end(), [](const Ring &a, const Ring &b) { return a.level < b.level; });
    return rings;
}

namespace {

void fill_levels(const Ring &ring, const View &view, VectorLayer *layer)
{
    std::vector<PixelPoint> closed = ring.lonlat;
    orvextool::close_ring_over_pole(&closed);
    unsigned char level = static_cast<unsigned char>(ring.level < 1 ? 1 : (ring.level > 255 ? 255 : ring.level));
    for (double shift : shifts_into_view(ring.lonmin, ring.lonmax, view)) {
        orvextool::fill_ring_spans(view.width, view.height, to_pixels(closed, shift, view), [&](long j, long i0, long i1) {
            for (long i = i0; i <= i1; i++) layer->levels[static_cast<size_t>(j * view.width + i)] = level;
        });
        layer->any_fill = true;
    }
}

/* Edges that run to a pole only close a ring drawn on a flat map, and
 * edges along the 180 degree meridian where the source cut a ring in two;
 * neither is a shoreline. */
bool edge_of_no_shore(const PixelPoint &a, const PixelPoint &b)
{
    return fabs(a.y) >= 89.99 || fabs(b.y) >= 89.99 || orvextool::meridian_cut_edge(a, b);
}

void add_outline(const Ring &ring, const View &view, VectorLayer *layer)
{
    std::vector<PixelPoint> line = ring.lonlat;
    /* A ring closes on its first point, unless it goes round a pole. */
    if (ring.fill && line.size() > 2 && fabs(line.back().x - line.front().x) <= 180) line.push_back(line.front());
    std::vector<std::vector<PixelPoint>> pieces(1);
    for (size_t k = 0; k < line.size(); k++) {
        if (k > 0 && edge_of_no_shore(line[k - 1], line[k]) && !pieces.back().empty()) pieces.emplace_back();
        pieces.back().push_back(line[k]);
    }
    for (const std::vector<PixelPoint> &piece : pieces) {
        if (piece.size() < 2 && line.size() > 1) continue;
        for (double shift : shifts_into_view(ring.lonmin, ring.lonmax, view))
            layer->lines.push_back(VectorLayer::Line{to_pixels(piece, shift, view), ring.level, ring.fill, ring.colour});
    }
}

}  // namespace

void rasterise_vectors(const std::vector<Ring> &rings, const View &view, VectorLayer *layer)
{
    layer->levels.assign(static_cast<size_t>(view.width * view.height), 0);
    for (const Ring &ring : rings) {
        if (ring.latmax < view.region.south || ring.latmin > view.region.north) continue;
        if (ring.fill) fill_levels(ring, view, layer);
        add_outline(ring, view, layer);
    }
}

void compose_vectors(const VectorLayer &layer, bool over_grid, orvextool::Image *image)
{
    if (layer.any_fill) {
        for (long j = 0; j < image->height; j++) {
            for (long i = 0; i < image->width; i++) {
                int level = layer.levels[static_cast<size_t>(j * image->width + i)];
                bool water = level == 2 || level == 4;
                if (over_grid && !water) continue;
                orvextool::Rgb c = level == 0 ? orvextool::Rgb{170, 205, 235} : orvextool::level_colour(level);
                image->at(i, j) = over_grid ? orvextool::blend(image->at(i, j), c, 0.85) : c;
            }
        }
    }
    for (const VectorLayer::Line &line : layer.lines)
        orvextool::draw_polyline(image, line.points, line.outline ? orvextool::line_colour(line.level) : line.colour);
}

}  // namespace orvexcli
