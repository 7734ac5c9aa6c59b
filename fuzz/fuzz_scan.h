// What the file-scanning fuzz targets share: the input bytes become an
// object's "mapping" and are scanned as one data type.
#ifndef ORVEX_FUZZ_SCAN_H
#define ORVEX_FUZZ_SCAN_H

#include <stdlib.h>
#include <string.h>

#include "OrvexInternal.h"

// Scans `data` as a file of `type` and hands the object to `walk` when the
// scan succeeds. The reader walks a mapping; a heap copy of exactly `size`
// bytes lets AddressSanitizer catch the first byte read past it.
template <typename Walk>
void fuzz_scan(const unsigned char *data, size_t size, int type, Walk walk)
{
    if (size < 16) return;
    unsigned char *copy = static_cast<unsigned char *>(malloc(size));
    memcpy(copy, data, size);
    {
        Orvex o;
        o.file_stream = copy;
        o.file_size = static_cast<long>(size);
        if (o.scanInput(type, nullptr) == 0) walk(o);
        o.cleanCache(0, 1);
        o.file_stream = nullptr;  // not a mapping: the destructor must not unmap it
        o.file_size = 0;
    }
    elog_clear_register(0);
    free(copy);
}

#endif
