// The frame the GSHHS and shapefile table scanners share: its allocation,
// its fixed fields, the union of the segment boxes and the growth of the
// tile's segment array.

#include "VectorInputFrame.h"

namespace {

// The fixed fields of the resolution: one tile covering the whole globe.
void fill_fixed_fields(OrvexResolution &res, long data_type, const char *source_name)
{
    orvex_copy_name(res.source.fname, sizeof res.source.fname, source_name);
    res.source.data_type = res.data_type = data_type;
    res.source.map_type = res.map_type = ORVEX_MAP_VECTOR;
    res.lon_start_tiles = -180.0;
    res.dlon_tiles = 360.0;
    res.lat_start_tiles = 90.0;
    res.dlat_tiles = -180.0;
    res.nlon_tiles = res.nlat_tiles = res.ntiles = 1;
}

// Widens one axis of the union, kept as its start and extent; `started`
// marks that it holds something.
void widen_axis(long &started, double &start, double &extent, double lo, double hi)
{
    if (!started) {
        start = lo;
        extent = hi - lo;
        started = 1;
        return;
    }
    double end = start + extent;
    if (hi > end) end = hi;
    if (lo < start) start = lo;
    extent = end - start;
}

// Makes room for one more segment. The array's capacity is the count
// rounded up to a power of two, so it is reallocated only when the count
// reaches one: growing it by a single record for each segment would copy
// the whole array each time wherever realloc cannot grow in place, a cost
// quadratic in the segments.
int reserve_segment(OrvexVectorTile &tile)
{
    if (!tile.segments) {
        tile.segments = static_cast<OrvexVectorSegment *>(orvex_calloc(1, sizeof(OrvexVectorSegment)));
        if (!tile.segments) {
            orvex_register_error(1, "Orvex::scanInput: malloc(segments) error.\n");
            return -1;
        }
        tile.nsegments = 0;
        return 0;
    }
    size_t n = static_cast<size_t>(tile.nsegments);
    if (n == 0 || (n & (n - 1))) return 0;  // not a power of two: there is room
    void *grown = orvex_sys_realloc(tile.segments, 2 * n * sizeof(OrvexVectorSegment));
    if (!grown) {
        orvex_register_error(1, "Orvex::scanInput: realloc(segments) error.\n");
        return -1;
    }
    tile.segments = static_cast<OrvexVectorSegment *>(grown);
    return 0;
}

}  // namespace

int orvex_build_vector_frame(Orvex *o, long data_type, const char *source_name)
{
    OrvexResolution *res = orvex_new_scan_resolution(o);
    if (!res) return -1;
    OrvexVector *vector = static_cast<OrvexVector *>(orvex_calloc(1, sizeof(OrvexVector)));
    if (!vector) {
        orvex_register_error(1, "Orvex::scanInput: malloc(vector) error.\n");
        return -1;
    }
    res->map_type = ORVEX_MAP_VECTOR;  // so that teardown releases the vector
    res->data = vector;
    fill_fixed_fields(*res, data_type, source_name);
    vector->tiles = static_cast<OrvexVectorTile *>(orvex_calloc(1, sizeof(OrvexVectorTile)));
    if (!vector->tiles) {
        orvex_register_error(1, "Orvex::scanInput: malloc(tile) error.\n");
        return -1;
    }
    return 0;
}

bool orvex_widen_source_union(OrvexSource &src, const OrvexSegmentBox &b)
{
    bool first = !src.nlat;
    widen_axis(src.nlat, src.lat_start, src.dlat, b.latmin * 1e-6, b.latmax * 1e-6);
    widen_axis(src.nlon, src.lon_start, src.dlon, b.lonmin * 1e-6, b.lonmax * 1e-6);
    return first;
}

int orvex_append_vector_segment(OrvexVectorTile &tile, int level, int fill,
                                const OrvexSegmentBox &b, long npts, OrvexXY *pts)
{
    if (reserve_segment(tile) < 0) return -1;
    OrvexVectorSegment *seg = &tile.segments[tile.nsegments++];
    *seg = OrvexVectorSegment();
    seg->level = level;
    seg->fill = fill;
    seg->lonmin = b.lonmin;
    seg->lonmax = b.lonmax;
    seg->latmin = b.latmin;
    seg->latmax = b.latmax;
    seg->npts = npts;
    seg->pts = pts;
    return 0;
}
