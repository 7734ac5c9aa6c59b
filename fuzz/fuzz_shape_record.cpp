// Fuzz target: any bytes handed to the shape record decoder are decoded or
// refused, and every part of a decoded record can be scanned into segment
// points without a read outside the record.

#include <stdlib.h>
#include <string.h>

#include "OrvexInternal.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    // A heap copy of exactly `size` bytes lets AddressSanitizer catch the
    // first byte read past the record.
    unsigned char *copy = static_cast<unsigned char *>(malloc(size ? size : 1));
    memcpy(copy, data, size);
    ESRISHPRECStr record;
    memset(&record, 0, sizeof record);
    if (esri_parse_shp_record(copy, static_cast<long>(size), &record) == 0) {
        Orvex o;
        long nave = 0;
        double dave = 0;
        for (int part = 0; part < 64; part++) {
            int fill = 0, npts = 0, latmin = 0, latmax = 0, lonmin = 0, lonmax = 0;
            OrvexXY *points = nullptr;
            int rc = o.scanESRIREC(&record, part, &fill, &npts, &points, &nave, &dave, &latmin,
                                   &latmax, &lonmin, &lonmax);
            if (rc != 0) break;
            free(points);
        }
        esri_free_shp_record(&record);
    }
    free(copy);
    elog_clear_register(0);
    return 0;
}
