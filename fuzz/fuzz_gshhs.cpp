// Fuzz target: any bytes handed to the GSHHS scanner are read or refused;
// what is read is walked point by point, as the writers read it, and the
// fill purge runs over every segment.

#include <stdlib.h>
#include <string.h>

#include "OrvexInternal.h"
#include "VectorGeometry.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    if (size < 16) return 0;
    unsigned char *copy = static_cast<unsigned char *>(malloc(size));
    memcpy(copy, data, size);
    {
        Orvex o;
        o.file_stream = copy;
        o.file_size = static_cast<long>(size);
        if (o.scanInput(ORVEX_DATA_GSHHS, nullptr) == 0 && o.frame.nresolutions == 1) {
            OrvexVector *v = static_cast<OrvexVector *>(o.frame.resolutions[0].data);
            OrvexVectorTile &tile = v->tiles[0];
            for (long s = 0; s < tile.nsegments && s < 16; s++)
                orvex_purgeVectorDataBadPoints(&tile.segments[s], ORVEX_DATA_GSHHS, &o);
        }
        o.file_stream = nullptr;  // not a mapping: the destructor must not unmap it
        o.file_size = 0;
    }
    elog_clear_register(0);
    free(copy);
    return 0;
}
