// Shape records: decoding one record of the published shapefile form, as
// a row of the "shapefile" table holds it, into the toolkit's record types.
// Every count and index in a record is distrusted: each is proved against
// the bytes the record really holds before anything is read or allocated,
// so a damaged row fails with a message and never reads past its bytes.

#include <stdlib.h>

#include "db_internal.h"
#include "shape_bytes.h"

namespace {

const char *const kWho = "esri_parse_shp_record";

// Bytes of fixed content in front of the arrays.
const long kPointXY = 4 + 16;
const long kMultiPointFixed = 4 + 32 + 4;
const long kPolyFixed = 4 + 32 + 4 + 4;
const long kRangeBytes = 16;  // a Z or M range: min and max

const char *type_name(int type)
{
    switch (type) {
    case kShpNull: return "Null";
    case kShpPoint: return "Point";
    case kShpPolyLine: return "PolyLine";
    case kShpPolygon: return "Polygon";
    case kShpMultiPoint: return "MultiPoint";
    case kShpPointZ: return "PointZ";
    case kShpPolyLineZ: return "PolyLineZ";
    case kShpPolygonZ: return "PolygonZ";
    case kShpMultiPointZ: return "MultiPointZ";
    case kShpPointM: return "PointM";
    case kShpPolyLineM: return "PolyLineM";
    case kShpPolygonM: return "PolygonM";
    case kShpMultiPointM: return "MultiPointM";
    case kShpMultiPatch: return "MultiPatch";
    default: return "unknown";
    }
}

// The content of a record: its bytes after the header.
struct Content {
    const unsigned char *p;
    long size;
};

int too_short(int type, long need, long have)
{
    db_log(0, "%s: %s record needs %ld bytes of content, it holds %ld.\n", kWho, type_name(type),
           need, have);
    return -1;
}

int parse_point(const Content &c, int type, ESRISHPRECStr *record)
{
    // PointZ carries z (and optionally m), PointM carries m.
    long need = kPointXY + (type == kShpPoint ? 0 : 8);
    if (c.size < need) return too_short(type, need, c.size);
    ESRISHPPOINTStr *pt = static_cast<ESRISHPPOINTStr *>(calloc(1, sizeof *pt));
    if (!pt) {
        db_log(1, "%s: malloc(ESRISHPPOINTStr) error.\n", kWho);
        return -1;
    }
    pt->x = shp_get_le64f(c.p + 4);
    pt->y = shp_get_le64f(c.p + 12);
    record->record = pt;
    return 0;
}

void read_box(const unsigned char *p, ESRISHPBOXStr *box)
{
    box->xmin = shp_get_le64f(p);
    box->ymin = shp_get_le64f(p + 8);
    box->xmax = shp_get_le64f(p + 16);
    box->ymax = shp_get_le64f(p + 24);
}

void free_polyg(ESRISHPRECPOLYGStr *polyg)
{
    if (!polyg) return;
    free(polyg->parts);
    free(polyg->points);
    free(polyg);
}

// Proves that the part indexes start within the points and never go
// backwards, so every part is the run parts[p] .. parts[p + 1].
int check_parts(const ESRISHPRECPOLYGStr *polyg)
{
    int previous = 0;
    for (int p = 0; p < polyg->numparts; p++) {
        int start = polyg->parts[p];
        if (start < previous || start > polyg->numpoints) {
            db_log(0,
                   "%s: %s part %d starts at point %d, outside the %d points or before the "
                   "previous part.\n",
                   kWho, type_name(polyg->shape_type), p, start, polyg->numpoints);
            return -1;
        }
        previous = start;
    }
    return 0;
}

// Reads the counts, proves the arrays fit the content and copies them.
int parse_points_and_parts(const Content &c, int type, long fixed, ESRISHPRECPOLYGStr *polyg)
{
    long numparts = polyg->numparts, numpoints = polyg->numpoints;
    if (numparts < 0 || numpoints < 0) {
        db_log(0, "%s: %s record gives %ld parts and %ld points.\n", kWho, type_name(type), numparts,
               numpoints);
        return -1;
    }
    // 64-bit arithmetic on 32-bit counts cannot overflow.
    long need = fixed + 4 * numparts + 16 * numpoints;
    if (shp_has_z(type)) need += kRangeBytes + 8 * numpoints;
    if (c.size < need) return too_short(type, need, c.size);

    if (numparts > 0) {
        polyg->parts = static_cast<int *>(malloc(static_cast<size_t>(numparts) * sizeof(int)));
        if (!polyg->parts) {
            db_log(1, "%s: malloc(%ld parts) error.\n", kWho, numparts);
            return -1;
        }
        for (long i = 0; i < numparts; i++) polyg->parts[i] = shp_get_le32(c.p + fixed + 4 * i);
        if (check_parts(polyg) < 0) return -1;
    }
    if (numpoints > 0) {
        polyg->points = static_cast<ESRISHPPOINTStr *>(
            malloc(static_cast<size_t>(numpoints) * sizeof(ESRISHPPOINTStr)));
        if (!polyg->points) {
            db_log(1, "%s: malloc(%ld points) error.\n", kWho, numpoints);
            return -1;
        }
        const unsigned char *pts = c.p + fixed + 4 * numparts;
        for (long i = 0; i < numpoints; i++) {
            polyg->points[i].x = shp_get_le64f(pts + 16 * i);
            polyg->points[i].y = shp_get_le64f(pts + 16 * i + 8);
        }
    }
    return 0;
}

// PolyLine, Polygon, MultiPoint and their Z and M forms. A MultiPoint has
// no parts: its record lacks the part count and the part array.
int parse_polyg(const Content &c, int type, ESRISHPRECStr *record)
{
    bool multipoint = shp_is_multipoint(type);
    long fixed = multipoint ? kMultiPointFixed : kPolyFixed;
    if (c.size < fixed) return too_short(type, fixed, c.size);
    ESRISHPRECPOLYGStr *polyg = static_cast<ESRISHPRECPOLYGStr *>(calloc(1, sizeof *polyg));
    if (!polyg) {
        db_log(1, "%s: malloc(ESRISHPRECPOLYGStr) error.\n", kWho);
        return -1;
    }
    polyg->shape_type = type;
    read_box(c.p + 4, &polyg->bbox);
    if (multipoint) {
        polyg->numpoints = shp_get_le32(c.p + 36);
    } else {
        polyg->numparts = shp_get_le32(c.p + 36);
        polyg->numpoints = shp_get_le32(c.p + 40);
    }
    if (parse_points_and_parts(c, type, fixed, polyg) < 0) {
        free_polyg(polyg);
        return -1;
    }
    record->record = polyg;
    return 0;
}

// Reads and decodes row `row` (its rowid known from the index).
int read_row(DbEntry &entry, DbTable &table, long row, ESRISHPRECStr *record)
{
    const char *who = "esri_get_db_shp_record";
    if (!table.read_shape) {
        std::string sql = "SELECT shape, shp_offset FROM " + db_quote_identifier(table.name) +
                          " WHERE rowid = ?1;";
        if (sqlite3_prepare_v2(entry.handle, sql.c_str(), -1, &table.read_shape, nullptr) !=
            SQLITE_OK) {
            db_log(0, "%s: table %s: %s.\n", who, table.name.c_str(), sqlite3_errmsg(entry.handle));
            return -1;
        }
    }
    sqlite3_stmt *stmt = table.read_shape;
    sqlite3_bind_int64(stmt, 1, table.index.rowids[static_cast<size_t>(row)]);
    int rc = sqlite3_step(stmt);
    int result = 0;
    if (rc != SQLITE_ROW) {
        db_log(0, "%s: row %ld of table %s: %s.\n", who, row, table.name.c_str(),
               rc == SQLITE_DONE ? "no such row" : sqlite3_errmsg(entry.handle));
        result = -1;
    } else {
        const unsigned char *blob = static_cast<const unsigned char *>(sqlite3_column_blob(stmt, 0));
        long n = sqlite3_column_bytes(stmt, 0);
        record->offset = static_cast<unsigned long>(sqlite3_column_int64(stmt, 1));
        if (esri_parse_shp_record(blob, n, record) < 0) {
            db_log(0, "%s: row %ld of table %s holds a malformed shape record.\n", who, row,
                   table.name.c_str());
            result = -1;
        }
    }
    sqlite3_reset(stmt);
    return result;
}

}  // namespace

extern "C" {

int esri_parse_shp_record(const unsigned char *bytes, long size, ESRISHPRECStr *record)
{
    if (!record) {
        db_log(0, "%s: no record to fill.\n", kWho);
        return -1;
    }
    record->record = nullptr;
    if (!bytes || size < kShpRecordHeader + 4) {
        db_log(0, "%s: record of %ld bytes is shorter than a header and a shape type.\n", kWho,
               bytes ? size : 0L);
        return -1;
    }
    record->hdr.number = shp_get_be32(bytes);
    record->hdr.length = shp_get_be32(bytes + 4);
    Content c = {bytes + kShpRecordHeader, size - kShpRecordHeader};
    if (static_cast<long>(record->hdr.length) * 2 != c.size) {
        db_log(0, "%s: record header gives %ld bytes of content, the record holds %ld.\n", kWho,
               static_cast<long>(record->hdr.length) * 2, c.size);
        return -1;
    }
    int type = shp_get_le32(c.p);
    record->shape_type = type;
    if (type == kShpNull) return 0;
    if (shp_is_point(type)) return parse_point(c, type, record);
    if (shp_is_poly(type) || shp_is_multipoint(type)) return parse_polyg(c, type, record);
    db_log(0, "%s: shape type %d (%s) is not supported.\n", kWho, type, type_name(type));
    return -1;
}

void esri_free_shp_record(ESRISHPRECStr *record)
{
    if (!record) return;
    if (record->record) {
        if (shp_is_poly(record->shape_type) || shp_is_multipoint(record->shape_type))
            free_polyg(static_cast<ESRISHPRECPOLYGStr *>(record->record));
        else
            free(record->record);
    }
    memset(record, 0, sizeof *record);
}

int esri_get_db_shp_record(Dbptr db, ESRISHPRECStr *record)
{
    const char *who = "esri_get_db_shp_record";
    if (!record) {
        db_log(0, "%s: no record to fill.\n", who);
        return -1;
    }
    std::shared_ptr<DbEntry> entry = db_open_entry(db, who);
    if (!entry) return -1;
    std::lock_guard<std::mutex> lock(entry->mutex);
    DbTable *table = db_table(*entry, db);
    if (!table) {
        db_log(0, "%s: no table %ld in database %s.\n", who, db.table, entry->path.c_str());
        return -1;
    }
    if (db_begin_read(*entry, who) < 0) return -1;
    if (db_refresh_index(*entry, *table, who) < 0) {
        db_end_read(*entry);
        return -1;
    }
    const std::vector<sqlite3_int64> &rowids = table->index.rowids;
    long nrows = static_cast<long>(rowids.size());
    if (db.record < 0 || db.record >= nrows) {
        db_end_read(*entry);
        db_log(0, "%s: row %ld is outside the %ld rows of table %s.\n", who, db.record, nrows,
               table->name.c_str());
        return -1;
    }
    int result = read_row(*entry, *table, db.record, record);
    // The last row ends the run; so does a failure, which ends the scan.
    if (result < 0 || db.record == nrows - 1) db_end_read(*entry);
    return result;
}

}  // extern "C"
