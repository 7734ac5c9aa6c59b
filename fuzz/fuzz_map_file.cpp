// Fuzz target: any bytes handed to the map-file reader are read or refused,
// and whatever is read can be walked, its tiles fetched, the samples
// nearest to a few positions read and every vector point read (as a display
// program reads them, at any alignment), without a read outside the data.

#include <initializer_list>

#include "fuzz_scan.h"

namespace {

// A compressed tile may declare up to 4 GiB of samples, all legal; under
// the sanitizers a buffer that large costs tens of seconds to allocate, so
// the compressed tiles inflated are those up to this size (any real map's
// are far smaller). Uncompressed ones lie in the input and are all fetched.
const long kMaxFetchedTile = 16L << 20;

long tile_bytes(const OrvexGrid *g)
{
    return g->nlat_per_tile * g->nlon_per_tile * (g->content == 1 ? 2 : 3);
}

// The tile's samples, or null when it is refused or not fetched.
unsigned char *fetch(Orvex &o, long r, long t)
{
    const OrvexGrid *g = static_cast<const OrvexGrid *>(o.frame.resolutions[r].data);
    unsigned char *out = nullptr;
    if (g->compressed && tile_bytes(g) > kMaxFetchedTile) return nullptr;
    if (o.getTileGrid(static_cast<int>(r), static_cast<int>(t), &out) != 0) return nullptr;
    return out;
}

void read_tiles(Orvex &o, long r)
{
    long n = tile_bytes(static_cast<const OrvexGrid *>(o.frame.resolutions[r].data));
    for (long t = 0; t < o.frame.resolutions[r].ntiles && t < 8; t++) {
        unsigned char *out = fetch(o, r, t);
        if (!out) continue;
        volatile unsigned char sink = 0;
        for (long i = 0; i < n; i += 97) sink = sink ^ out[i];
        if (n > 0) sink = sink ^ out[n - 1];
    }
}

// The samples nearest to positions inside, on the edges of and around the
// resolution's area.
void read_nearest(Orvex &o, long r)
{
    OrvexResolution &res = o.frame.resolutions[r];
    long size = static_cast<const OrvexGrid *>(res.data)->content == 1 ? 2 : 3;
    for (double f : {0.0, 0.5, 1.0, -0.01})
        for (double g : {0.0, 0.37, 1.0, 2.5}) {
            double lat = res.lat_start_tiles + f * res.nlat_tiles * res.dlat_tiles;
            double lon = res.lon_start_tiles + g * res.nlon_tiles * res.dlon_tiles;
            int tile = -1;
            long row = -1, col = -1, offset = -1;
            o.findNearestPixel(&res, lat, lon, &tile, &row, &col, &offset);
            if (tile < 0) continue;
            if (tile >= res.ntiles) __builtin_trap();
            unsigned char *out = fetch(o, r, tile);
            if (!out) continue;
            volatile unsigned char sink = out[offset] ^ out[offset + size - 1];
            (void)sink;
        }
}

// Every point of every segment, through the readers a display program uses.
// Segments may share their points, so a small file can name far more points
// than it holds: the walk stops after a million.
void read_points(Orvex &o, long r)
{
    const OrvexVector *v = static_cast<const OrvexVector *>(o.frame.resolutions[r].data);
    OrvexXY run[64];
    volatile int sink = 0;
    long budget = 1000000;
    for (long t = 0; t < o.frame.resolutions[r].ntiles; t++)
        for (long s = 0; s < v->tiles[t].nsegments && budget > 0; s++) {
            const OrvexVectorSegment *seg = &v->tiles[t].segments[s];
            budget -= seg->npts;
            for (long i = 0; i < seg->npts; i += 64) {
                long n = seg->npts - i < 64 ? seg->npts - i : 64;
                orvex_get_points(seg, i, n, run);
                sink = sink ^ run[0].lat_microdegrees ^ run[n - 1].lon_microdegrees;
            }
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    fuzz_scan(data, size, ORVEX_DATA_ORX, [](Orvex &o) {
        for (long r = 0; r < o.frame.nresolutions; r++) {
            if (o.frame.resolutions[r].map_type == ORVEX_MAP_VECTOR) read_points(o, r);
            if (o.frame.resolutions[r].map_type != ORVEX_MAP_GRID) continue;
            read_tiles(o, r);
            read_nearest(o, r);
        }
    });
    return 0;
}
