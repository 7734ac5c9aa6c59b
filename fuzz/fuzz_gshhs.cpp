// Fuzz target: any bytes handed to the GSHHS scanner are read or refused;
// what is read goes through the fill purge segment by segment, which reads
// every point as the writers do.

#include "VectorGeometry.h"
#include "fuzz_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    fuzz_scan(data, size, ORVEX_DATA_GSHHS, [](Orvex &o) {
        if (o.frame.nresolutions != 1) return;
        OrvexVector *v = static_cast<OrvexVector *>(o.frame.resolutions[0].data);
        OrvexVectorTile &tile = v->tiles[0];
        for (long s = 0; s < tile.nsegments && s < 16; s++)
            orvex_purgeVectorDataBadPoints(&tile.segments[s], ORVEX_DATA_GSHHS, &o);
    });
    return 0;
}
