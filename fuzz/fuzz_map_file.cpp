// Fuzz target: any bytes handed to the map-file reader are read or refused,
// and whatever is read can be walked and its tiles fetched without a read
// outside the data.

#include "fuzz_scan.h"

namespace {

// A compressed tile may declare up to 4 GiB of samples, all legal; under
// the sanitizers a buffer that large costs tens of seconds to allocate, so
// the compressed tiles inflated are those up to this size (any real map's
// are far smaller). Uncompressed ones lie in the input and are all fetched.
const long kMaxFetchedTile = 16L << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    fuzz_scan(data, size, ORVEX_DATA_ORX, [](Orvex &o) {
        for (long r = 0; r < o.frame.nresolutions; r++) {
            OrvexResolution &res = o.frame.resolutions[r];
            if (res.map_type != ORVEX_MAP_GRID) continue;
            OrvexGrid *g = static_cast<OrvexGrid *>(res.data);
            for (long t = 0; t < res.ntiles && t < 8; t++) {
                long n = g->nlat_per_tile * g->nlon_per_tile * (g->content == 1 ? 2 : 3);
                unsigned char *out = nullptr;
                if (g->compressed && n > kMaxFetchedTile) continue;
                if (o.getTileGrid(static_cast<int>(r), static_cast<int>(t), &out) != 0) continue;
                volatile unsigned char sink = 0;
                for (long i = 0; i < n; i += 97) sink = sink ^ out[i];
                if (n > 0) sink = sink ^ out[n - 1];
            }
        }
    });
    return 0;
}
