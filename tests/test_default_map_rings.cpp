// The default map's shoreline rings after the build's purge of repeated
// points and self-crossings: no ring of any filled resolution may still
// cross itself. The map is built from Debian's GSHHG files by
// tests/scripts/default_map_rings.sh, which names it in ORVEX_RINGS_MAP;
// without it the test is skipped.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Orvex.h"

namespace {

struct P {
    long long x, y;
};

const long long kTurn = 360000000;
const long long kPole = 90000000;

// Points of a ring unwrapped along the ring; one that goes round a pole
// (its ends a whole turn apart) is closed along that pole, as a filled map
// draws it.
std::vector<P> closed_ring(const OrvexXY *pts, long npts)
{
    std::vector<P> out;
    long long offset = 0;
    for (long k = 0; k < npts; k++) {
        P p{pts[k].lon_microdegrees + offset, pts[k].lat_microdegrees};
        if (k > 0) {
            while (p.x - out.back().x > kTurn / 2) p.x -= kTurn, offset -= kTurn;
            while (p.x - out.back().x < -kTurn / 2) p.x += kTurn, offset += kTurn;
        }
        out.push_back(p);
    }
    if (out.size() > 2 && llabs(out.back().x - out.front().x) > kTurn / 2) {
        long long pole = out.front().y < 0 ? -kPole : kPole;
        P last = out.back(), first = out.front();
        out.push_back(P{last.x, pole});
        out.push_back(P{first.x, pole});
    }
    return out;
}

int orientation(const P &a, const P &b, const P &c)
{
    // Differences stay below 2^30 each way, so the products fit.
    long long v = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    return (v > 0) - (v < 0);
}

bool cross_properly(const P &a, const P &b, const P &c, const P &d)
{
    int o1 = orientation(a, b, c), o2 = orientation(a, b, d);
    int o3 = orientation(c, d, a), o4 = orientation(c, d, b);
    return o1 * o2 < 0 && o3 * o4 < 0;
}

// Pairs of edges of the ring that cross each other where neither ends:
// edges sorted by their west end, each compared with those that begin
// before it ends.
long crossings(const std::vector<P> &ring)
{
    const size_t n = ring.size();
    if (n < 4) return 0;
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; i++) order[i] = i;
    auto west = [&](size_t e) { return std::min(ring[e].x, ring[(e + 1) % n].x); };
    auto east = [&](size_t e) { return std::max(ring[e].x, ring[(e + 1) % n].x); };
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return west(a) < west(b); });
    long found = 0;
    for (size_t i = 0; i < n; i++) {
        size_t e = order[i];
        for (size_t j = i + 1; j < n && west(order[j]) <= east(e); j++) {
            size_t f = order[j];
            if ((e + 1) % n == f || (f + 1) % n == e) continue;  // neighbours share a point
            if (cross_properly(ring[e], ring[(e + 1) % n], ring[f], ring[(f + 1) % n])) found++;
        }
    }
    return found;
}

std::vector<P> ring_of(const std::vector<std::pair<int, int>> &degrees)
{
    std::vector<OrvexXY> pts(degrees.size());
    for (size_t k = 0; k < degrees.size(); k++) {
        pts[k].lon_microdegrees = degrees[k].first * 1000000;
        pts[k].lat_microdegrees = degrees[k].second * 1000000;
    }
    return closed_ring(pts.data(), static_cast<long>(pts.size()));
}

TEST(DefaultMapRings, TheCrossingCountFindsCrossingsAndOnlyThem)
{
    EXPECT_EQ(crossings(ring_of({{0, 0}, {10, 0}, {10, 10}, {0, 10}})), 0);
    EXPECT_EQ(crossings(ring_of({{0, 0}, {10, 10}, {10, 0}, {0, 10}})), 1);            // a bow tie
    EXPECT_EQ(crossings(ring_of({{170, 0}, {-170, 0}, {-170, 10}, {170, 10}})), 0);    // across 180
    EXPECT_EQ(crossings(ring_of({{170, 0}, {-170, 10}, {-170, 0}, {170, 10}})), 1);
    // Round the south pole, closed along it: the closing edges cross nothing.
    EXPECT_EQ(crossings(ring_of({{-180, -70}, {-60, -60}, {60, -70}, {179, -65}})), 0);
}

TEST(DefaultMapRings, NoRingCrossesItselfAfterThePurge)
{
    const char *path = getenv("ORVEX_RINGS_MAP");
    if (!path || !*path) GTEST_SKIP() << "ORVEX_RINGS_MAP names no map (tests/scripts/default_map_rings.sh)";
    Orvex map;
    ASSERT_EQ(map.setInput(path, 0, NULL), 0) << path;
    long filled_rings = 0;
    for (long r = 0; r < map.frame.nresolutions; r++) {
        const OrvexResolution &res = map.frame.resolutions[r];
        const OrvexVector *v = static_cast<const OrvexVector *>(res.data);
        if (res.map_type != ORVEX_MAP_VECTOR || !v || !v->tiles) continue;
        for (long t = 0; t < res.ntiles; t++) {
            const OrvexVectorTile &tile = v->tiles[t];
            if (!tile.fill) continue;
            for (long s = 0; s < tile.nsegments; s++) {
                const OrvexVectorSegment &seg = tile.segments[s];
                if (seg.npts < 1) continue;
                std::vector<OrvexXY> pts(static_cast<size_t>(seg.npts));
                orvex_get_points(&seg, 0, seg.npts, pts.data());  // the array may sit at any byte
                filled_rings++;
                EXPECT_EQ(crossings(closed_ring(pts.data(), seg.npts)), 0)
                    << res.name << " ring " << s << " of " << seg.npts << " points near "
                    << pts[0].lon_microdegrees * 1e-6 << " " << pts[0].lat_microdegrees * 1e-6;
            }
        }
    }
    EXPECT_GT(filled_rings, 1000);
}

}  // namespace
