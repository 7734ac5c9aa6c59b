// Fuzz target: any bytes handed to the map-file reader are read or refused,
// and whatever is read can be walked and its tiles fetched without a read
// outside the data.

#include <stdlib.h>
#include <string.h>

#include "OrvexInternal.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    if (size < 16) return 0;
    // The reader walks a mapping; a heap copy of exactly `size` bytes lets
    // AddressSanitizer catch the first byte read past it.
    unsigned char *copy = static_cast<unsigned char *>(malloc(size));
    memcpy(copy, data, size);
    {
        Orvex o;
        o.file_stream = copy;
        o.file_size = static_cast<long>(size);
        if (o.scanInput(ORVEX_DATA_ORX, nullptr) == 0) {
            for (long r = 0; r < o.frame.nresolutions; r++) {
                OrvexResolution &res = o.frame.resolutions[r];
                if (res.map_type != ORVEX_MAP_GRID) continue;
                OrvexGrid *g = static_cast<OrvexGrid *>(res.data);
                for (long t = 0; t < res.ntiles && t < 8; t++) {
                    unsigned char *out = nullptr;
                    if (o.getTileGrid(static_cast<int>(r), static_cast<int>(t), &out) != 0) continue;
                    long n = g->nlat_per_tile * g->nlon_per_tile * (g->content == 1 ? 2 : 3);
                    volatile unsigned char sink = 0;
                    for (long i = 0; i < n; i += 97) sink = sink ^ out[i];
                    if (n > 0) sink = sink ^ out[n - 1];
                }
            }
        }
        o.cleanCache(0, 1);
        o.file_stream = nullptr;  // not a mapping: the destructor must not unmap it
        o.file_size = 0;
    }
    elog_clear_register(0);
    free(copy);
    return 0;
}
