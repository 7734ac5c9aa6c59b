// The rings of vector resolutions, read once from the map. Points are
// unwrapped along each segment, so rings that cross the 180 degree meridian
// stay whole; each ring is drawn once for every turn of 360 degrees that
// brings it into the picture.
#include <math.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <tuple>

#include "map_records.h"
#include "palette.h"
#include "vector_features.h"
#include "vectors.h"

namespace orvexcli {

namespace {

using orvextool::PixelPoint;

Ring make_ring(const OrvexVectorSegment &seg, bool fill, const OrvexResolution &res)
{
    Ring ring{seg.level, fill, orvextool::polyline_colour(res.name),
              segment_lonlat(seg, res.data_type == ORVEX_DATA_GSHHS), 0, 0, 0, 0, orvextool::layer_family(res.name), {}, {}, 0, nullptr};
    measure_ring(&ring);
    return ring;
}

}  // namespace

void measure_ring(Ring *ring)
{
    ring->chunk_min.clear();
    ring->chunk_max.clear();
    const std::vector<PixelPoint> &pts = ring->lonlat;
    if (pts.empty()) return;
    for (size_t k = 0; k < pts.size(); k++) {
        if (k % Ring::kChunk == 0) {
            ring->chunk_min.push_back(pts[k]);
            ring->chunk_max.push_back(pts[k]);
        }
        PixelPoint &lo = ring->chunk_min.back(), &hi = ring->chunk_max.back();
        lo = PixelPoint{std::min(lo.x, pts[k].x), std::min(lo.y, pts[k].y)};
        hi = PixelPoint{std::max(hi.x, pts[k].x), std::max(hi.y, pts[k].y)};
    }
    PixelPoint lo = ring->chunk_min[0], hi = ring->chunk_max[0];
    for (size_t c = 1; c < ring->chunk_min.size(); c++) {
        lo = PixelPoint{std::min(lo.x, ring->chunk_min[c].x), std::min(lo.y, ring->chunk_min[c].y)};
        hi = PixelPoint{std::max(hi.x, ring->chunk_max[c].x), std::max(hi.y, ring->chunk_max[c].y)};
    }
    ring->lonmin = lo.x;
    ring->lonmax = hi.x;
    ring->latmin = lo.y;
    ring->latmax = hi.y;
    /* A filled ring whose ends lie more than half a turn apart closes
     * along a pole, and covers the land up to it. */
    std::vector<PixelPoint> ends{pts.front(), pts.back()};
    if (ring->fill && orvextool::close_ring_over_pole(&ends)) {
        ring->latmin = std::min(ring->latmin, ends.back().y);
        ring->latmax = std::max(ring->latmax, ends.back().y);
    }
}

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
        for (long t = 0; t < res.ntiles; t++) {
            const OrvexVectorTile &tile = v->tiles[t];
            for (long s = 0; s < tile.nsegments; s++) {
                const OrvexVectorSegment &seg = tile.segments[s];
                if (seg.npts < 1 || !seg.pts) continue;
                auto key = std::make_tuple(r, seg.level, seg.lonmin, seg.lonmax, seg.latmin, seg.latmax, seg.npts,
                                           tile.fill ? 1L : 0L);
                if (!seen.insert(key).second) continue;
                rings.push_back(make_ring(seg, tile.fill != 0 || seg.fill != 0, res));
            }
        }
    }
    /* Lower levels first, so that lakes cover land and islands lakes. */
    std::stable_sort(rings.begin(), rings.end(), [](const Ring &a, const Ring &b) { return a.level < b.level; });
    index_rings(&rings);
    return rings;
}

}  // namespace orvexcli
