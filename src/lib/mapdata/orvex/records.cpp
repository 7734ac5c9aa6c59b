// The plain records of the model: each constructor zeroes every byte, and
// the code tables name data types and map types.

#include <stdio.h>
#include <string.h>

#include "OrvexInternal.h"

#define ORVEX_ZEROING_CONSTRUCTOR(T) \
    T::T() { memset(static_cast<void *>(this), 0, sizeof(*this)); }

ORVEX_ZEROING_CONSTRUCTOR(OrvexFrame)
ORVEX_ZEROING_CONSTRUCTOR(OrvexSource)
ORVEX_ZEROING_CONSTRUCTOR(OrvexResolution)
ORVEX_ZEROING_CONSTRUCTOR(OrvexGridTile)
ORVEX_ZEROING_CONSTRUCTOR(OrvexGrid)
ORVEX_ZEROING_CONSTRUCTOR(OrvexXY)
ORVEX_ZEROING_CONSTRUCTOR(OrvexVectorSegment)
ORVEX_ZEROING_CONSTRUCTOR(OrvexVectorTile)
ORVEX_ZEROING_CONSTRUCTOR(OrvexVector)
ORVEX_ZEROING_CONSTRUCTOR(OrvexInput)
ORVEX_ZEROING_CONSTRUCTOR(OrvexCache)
ORVEX_ZEROING_CONSTRUCTOR(GSHHSHdr)

OrvexWriteOptions::OrvexWriteOptions()
    : gamma(1.0), lightmin(0.0), cache_budget(-1), progress(nullptr), progress_arg(nullptr)
{
}

namespace {

const char *const data_type_names[] = {"orx", "rgb", "dem", "demb", "gshhs", "esri"};
const char *const map_type_names[] = {"grid", "vector"};

char *copy_name(const char *const *names, int count, int type)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%s", type >= 0 && type < count ? names[type] : "unknown");
    return strdup(buf);
}

}  // namespace

char *orvex_datatype2str(int type)
{
    return copy_name(data_type_names, 6, type);
}

char *orvex_maptype2str(int type)
{
    return copy_name(map_type_names, 2, type);
}

void orvex_copy_name(char *dst, size_t dst_size, const char *src)
{
    memset(dst, 0, dst_size);
    if (src) strncpy(dst, src, dst_size - 1);
}
