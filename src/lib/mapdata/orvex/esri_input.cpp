// Shapefile tables in the host toolkit's database as an input: opening the
// table, checking the schema, and scanning every row's PolyLine or Polygon
// parts into the segments of one vector tile.

#include <stdlib.h>

#include "OrvexInternal.h"

namespace {

char *copy_text(const char *text)
{
    size_t n = strlen(text) + 1;
    char *copy = static_cast<char *>(orvex_sys_malloc(n));
    if (copy) memcpy(copy, text, n);
    return copy;
}

// The one resolution of a database input: one vector tile spanning the
// globe, whose segments the rows fill in.
int build_frame(Orvex *o)
{
    OrvexResolution *res = static_cast<OrvexResolution *>(orvex_calloc(1, sizeof(OrvexResolution)));
    if (!res) {
        orvex_register_error(1, "Orvex::scanInput: malloc(resolutions) error.\n");
        return -1;
    }
    o->frame.resolutions = res;
    o->frame.nresolutions = 1;
    OrvexVector *vector = static_cast<OrvexVector *>(orvex_calloc(1, sizeof(OrvexVector)));
    if (!vector) {
        orvex_register_error(1, "Orvex::scanInput: malloc(vector) error.\n");
        return -1;
    }
    res->data = vector;
    orvex_copy_name(res->source.fname, sizeof res->source.fname, o->dbname);
    res->source.data_type = res->data_type = ORVEX_DATA_ESRI;
    res->source.map_type = res->map_type = ORVEX_MAP_VECTOR;
    res->lon_start_tiles = -180.0;
    res->dlon_tiles = 360.0;
    res->lat_start_tiles = 90.0;
    res->dlat_tiles = -180.0;
    res->nlon_tiles = res->nlat_tiles = res->ntiles = 1;
    vector->tiles = static_cast<OrvexVectorTile *>(orvex_calloc(1, sizeof(OrvexVectorTile)));
    if (!vector->tiles) {
        orvex_register_error(1, "Orvex::scanInput: malloc(tile) error.\n");
        return -1;
    }
    return 0;
}

// Widens one axis of the union of the segment boxes: the source's start and
// extent, and the matching bounds of the vector and its tile.
void widen_axis(long *started, double *start, double *extent, double *vmin, double *vmax,
                double *tmin, double *tmax, double lo, double hi)
{
    if (*started == 0) {
        *start = lo;
        *extent = hi - lo;
        *started = 1;
        *vmin = *tmin = lo;
        *vmax = *tmax = hi;
        return;
    }
    double end = *start + *extent;
    if (hi > end) end = hi;
    if (lo < *start) *start = lo;
    *extent = end - *start;
    if (lo < *vmin) *vmin = lo;
    if (lo < *tmin) *tmin = lo;
    if (hi > *vmax) *vmax = hi;
    if (hi > *tmax) *tmax = hi;
}

struct PartBox {
    int latmin, latmax, lonmin, lonmax;
};

void widen_union(OrvexResolution *res, const PartBox &b)
{
    OrvexVector *v = static_cast<OrvexVector *>(res->data);
    OrvexVectorTile *t = v->tiles;
    OrvexSource &s = res->source;
    widen_axis(&s.nlat, &s.lat_start, &s.dlat, &v->latmin, &v->latmax, &t->latmin, &t->latmax,
               b.latmin * 1e-6, b.latmax * 1e-6);
    widen_axis(&s.nlon, &s.lon_start, &s.dlon, &v->lonmin, &v->lonmax, &t->lonmin, &t->lonmax,
               b.lonmin * 1e-6, b.lonmax * 1e-6);
}

// Makes room for one more segment. The array's capacity is the count
// rounded up to a power of two, so it is reallocated only when the count
// reaches one: growing it by a single record for each segment would copy
// the whole array each time wherever realloc cannot grow in place, a cost
// quadratic in the rows. When it cannot grow, the tile keeps its earlier
// array and count.
int reserve_segment(OrvexVectorTile *tile)
{
    if (!tile->segments) {
        tile->segments = static_cast<OrvexVectorSegment *>(orvex_sys_malloc(sizeof(OrvexVectorSegment)));
        if (!tile->segments) {
            orvex_register_error(1, "Orvex::scanInput: malloc(segments) error.\n");
            return -1;
        }
        tile->nsegments = 0;
        return 0;
    }
    size_t n = static_cast<size_t>(tile->nsegments);
    if (n & (n - 1)) return 0;  // not a power of two: there is room
    void *grown = orvex_sys_realloc(tile->segments, 2 * n * sizeof(OrvexVectorSegment));
    if (!grown) {
        orvex_register_error(1, "Orvex::scanInput: realloc(segments) error.\n");
        return -1;
    }
    tile->segments = static_cast<OrvexVectorSegment *>(grown);
    return 0;
}

// Appends a segment holding the part's points. The object owns the points
// from here on.
int append_segment(Orvex *o, OrvexVectorTile *tile, int fill, int npts, OrvexXY *points,
                   const PartBox &b)
{
    if (OrvexPrivate::adoptPoints(o, points) < 0) {
        free(points);
        orvex_register_error(0, "Orvex::scanInput: Orvex::adoptPoints() error.\n");
        return -1;
    }
    if (reserve_segment(tile) < 0) return -1;
    OrvexVectorSegment *seg = &tile->segments[tile->nsegments++];
    memset(static_cast<void *>(seg), 0, sizeof *seg);
    seg->level = 4;
    seg->fill = fill;
    seg->lonmin = b.lonmin;
    seg->lonmax = b.lonmax;
    seg->latmin = b.latmin;
    seg->latmax = b.latmax;
    seg->npts = npts;
    seg->pts = points;
    return 0;
}

struct Spacing {
    long nave = 0;
    double dave = 0.0;
};

// Every part of one row's shape, in part order.
int scan_row(Orvex *o, ESRISHPRECStr *record, Spacing *spacing)
{
    OrvexResolution *res = o->frame.resolutions;
    OrvexVectorTile *tile = static_cast<OrvexVector *>(res->data)->tiles;
    for (int part = 0;; part++) {
        int fill = 0, npts = 0;
        OrvexXY *points = nullptr;
        PartBox b = {0, 0, 0, 0};
        int rc = o->scanESRIREC(record, part, &fill, &npts, &points, &spacing->nave, &spacing->dave,
                                &b.latmin, &b.latmax, &b.lonmin, &b.lonmax);
        if (rc == 1) return 0;
        if (rc < 0) return -1;
        if (npts == 0) continue;
        widen_union(res, b);
        if (append_segment(o, tile, fill, npts, points, b) < 0) return -1;
    }
}

int scan_rows(Orvex *o, long nrows, Spacing *spacing)
{
    for (o->db.record = 0; o->db.record < nrows; o->db.record++) {
        ESRISHPRECStr record;
        memset(&record, 0, sizeof record);
        if (esri_get_db_shp_record(o->db, &record) < 0) {
            orvex_register_error(0, "Orvex::scanInput: esri_get_db_shp_record() error.\n");
            return -1;
        }
        int rc = scan_row(o, &record, spacing);
        esri_free_shp_record(&record);
        if (rc < 0) return -1;
    }
    return 0;
}

}  // namespace

int orvex_scan_esri(Orvex *o)
{
    // What a failed earlier scan left for teardown goes now, before the new
    // frame takes its place.
    OrvexPrivate::releaseFrame(o);
    if (build_frame(o) < 0) return -1;
    long nrows = 0;
    if (dbquery(o->db, dbRECORD_COUNT, &nrows) < 0) {
        orvex_register_error(0, "Orvex::scanInput: dbquery(%s) error.\n", o->dbname);
        return -1;
    }
    if (nrows < 1) {
        orvex_register_error(0, "Orvex::scanInput: No ESRI data points.\n");
        return -1;
    }
    Spacing spacing;
    if (scan_rows(o, nrows, &spacing) < 0) return -1;
    // Without two consecutive points there is no spacing to average.
    o->frame.resolutions[0].degrees_per_pixel =
        spacing.nave > 0 ? spacing.dave / static_cast<double>(spacing.nave) : 0.0;
    return 0;
}

int Orvex::checkInputDb(Dbptr db, char **name)
{
    char *found = nullptr;
    dbquery(db, dbDATABASE_FILENAME, &found);
    if (name) *name = found;
    if (!found) {
        orvex_register_error(0, "Orvex::checkInputDb: no database file name.\n");
        return -1;
    }
    if (dblookup(db, nullptr, "shapefile", nullptr, nullptr).table == dbINVALID) {
        orvex_register_error(0, "Orvex::checkInputDb: no shapefile table in schema.\n");
        return -1;
    }
    if (dblookup(db, nullptr, "filename", nullptr, nullptr).table == dbINVALID) {
        orvex_register_error(0, "Orvex::checkInputDb: no filename table in schema.\n");
        return -1;
    }
    return 0;
}

int Orvex::setInput(Dbptr input_db)
{
    if (dbname) {
        orvex_register_error(0, "Orvex::setInput: database(%s) already open.\n", dbname);
        return -1;
    }
    // The scan would replace the resolutions of a mapped file or an output.
    if (file_stream || fd >= 0) {
        orvex_register_error(0, "Orvex::setInput: file(%s) already open.\n",
                             fname ? fname : "(unnamed)");
        return -1;
    }
    char *name = nullptr;
    if (checkInputDb(input_db, &name) < 0) {
        orvex_register_error(0, "Orvex::setInput: Orvex::checkInputDb() error.\n");
        return -1;
    }
    dbname = copy_text(name);
    if (!dbname) {
        orvex_register_error(1, "Orvex::setInput: strdup(%s) error.\n", name);
        return -1;
    }
    db = input_db;
    if (scanInput(ORVEX_DATA_ESRI, nullptr) == 0) return 0;
    free(dbname);
    dbname = nullptr;
    db = dbinvalid();
    orvex_register_error(0, "Orvex::setInput: scanInput(%s) error.\n", name);
    return -1;
}
