// Shapefile tables in the host toolkit's database as an input: opening the
// table, checking the schema, and scanning every row's PolyLine or Polygon
// parts into the segments of one vector tile.

#include <stdlib.h>

#include "VectorInputFrame.h"

namespace {

char *copy_text(const char *text)
{
    size_t n = strlen(text) + 1;
    char *copy = static_cast<char *>(orvex_sys_malloc(n));
    if (copy) memcpy(copy, text, n);
    return copy;
}

// Widens a box, kept as its bounds, by the segment box `b`; `first` when
// the box holds nothing yet.
void widen_bounds(double &latmin, double &latmax, double &lonmin, double &lonmax, bool first,
                  const OrvexSegmentBox &b)
{
    double lat_lo = b.latmin * 1e-6, lat_hi = b.latmax * 1e-6;
    double lon_lo = b.lonmin * 1e-6, lon_hi = b.lonmax * 1e-6;
    if (first || lat_lo < latmin) latmin = lat_lo;
    if (first || lat_hi > latmax) latmax = lat_hi;
    if (first || lon_lo < lonmin) lonmin = lon_lo;
    if (first || lon_hi > lonmax) lonmax = lon_hi;
}

// Widens the union of the segment boxes: in the source block, and as the
// bounds of the vector and of its tile, which this input keeps equal to it.
void widen_union(OrvexResolution *res, const OrvexSegmentBox &b)
{
    OrvexVector *v = static_cast<OrvexVector *>(res->data);
    OrvexVectorTile *t = v->tiles;
    bool first = orvex_widen_source_union(res->source, b);
    widen_bounds(v->latmin, v->latmax, v->lonmin, v->lonmax, first, b);
    widen_bounds(t->latmin, t->latmax, t->lonmin, t->lonmax, first, b);
}

// Appends a segment holding the part's points. The object owns the points
// from here on.
int append_segment(Orvex *o, OrvexVectorTile *tile, int fill, int npts, OrvexXY *points,
                   const OrvexSegmentBox &b)
{
    if (OrvexPrivate::adoptPoints(o, points) < 0) {
        free(points);
        orvex_register_error(0, "Orvex::scanInput: Orvex::adoptPoints() error.\n");
        return -1;
    }
    return orvex_append_vector_segment(*tile, 4, fill, b, npts, points);
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
        OrvexSegmentBox b = {0, 0, 0, 0};
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
    if (orvex_build_vector_frame(o, ORVEX_DATA_ESRI, o->dbname) < 0) return -1;
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
