#include "vector_features.h"

#include <set>
#include <tuple>

#include "hostkit.h"
#include "map_records.h"

namespace orvexcli {

std::vector<orvextool::PixelPoint> segment_lonlat(const OrvexVectorSegment &seg, bool big_endian)
{
    std::vector<orvextool::PixelPoint> out;
    out.reserve(static_cast<size_t>(seg.npts));
    OrvexXY xy;
    long offset = 0, last = 0;
    for (long k = 0; k < seg.npts; k++) {
        orvex_get_point(&seg, k, &xy);
        if (big_endian) N2H4(reinterpret_cast<unsigned char *>(&xy), reinterpret_cast<unsigned char *>(&xy), 2);
        long lx = xy.lon_microdegrees + offset;
        if (k > 0) {
            while (lx - last > 180000000) lx -= 360000000, offset -= 360000000;
            while (lx - last < -180000000) lx += 360000000, offset += 360000000;
        }
        last = lx;
        out.push_back(orvextool::PixelPoint{lx * 1e-6, xy.lat_microdegrees * 1e-6});
    }
    return out;
}

std::vector<orvextool::LonLatLine> segment_parts(const OrvexVectorSegment &seg, bool big_endian, bool filled)
{
    std::vector<orvextool::PixelPoint> points = segment_lonlat(seg, big_endian);
    return filled ? orvextool::ring_pieces(std::move(points)) : orvextool::line_pieces(points);
}

namespace {

/* Copies of a segment in several tiles agree in box, count, level and
 * their first point. */
using Key = std::tuple<int, int, int, int, int, long, bool, int, int>;

Key key_of(const OrvexVectorSegment &seg, bool filled)
{
    OrvexXY first;
    orvex_get_point(&seg, 0, &first);
    return Key{seg.level, seg.lonmin, seg.lonmax, seg.latmin, seg.latmax, seg.npts, filled, first.lon_microdegrees,
               first.lat_microdegrees};
}

}  // namespace

int for_each_feature(const OrvexResolution &res, const std::function<bool(const OrvexVectorSegment &)> &wanted,
                     const std::function<int(const VectorFeature &)> &each)
{
    const OrvexVector *v = vector_of(res);
    if (!v) return -1;
    const bool big = res.data_type == ORVEX_DATA_GSHHS;
    std::set<Key> seen;
    for (long t = 0; v->tiles && t < res.ntiles; t++) {
        const OrvexVectorTile &tile = v->tiles[t];
        for (long s = 0; s < tile.nsegments; s++) {
            const OrvexVectorSegment &seg = tile.segments[s];
            if (seg.npts < 1 || !seg.pts || (wanted && !wanted(seg))) continue;
            /* Fewer than three points outline no area: a line, then. */
            bool filled = (tile.fill != 0 || seg.fill != 0) && seg.npts >= 3;
            if (!seen.insert(key_of(seg, filled)).second) continue;
            VectorFeature f{&seg, t, seg.level, filled, segment_parts(seg, big, filled)};
            if (int rc = each(f)) return rc;
        }
    }
    return 0;
}

}  // namespace orvexcli
