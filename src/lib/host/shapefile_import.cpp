// Importing a shapefile: every shape record with its .dbf attributes
// becomes one row of "shapefile", the file one row of "filename". The rows
// of one file are written in one transaction, so an import that fails
// leaves the database as it was.

#include <limits.h>
#include <stdlib.h>
#include <time.h>

#include "db_internal.h"
#include "shape_bytes.h"
#include "shapefile_io.h"

namespace {

const char *const kWho = "shp2db_import";

// shapelib reports its own failures through this hook: they join the
// register, in front of the importer's message.
void shapelib_error(const char *message)
{
    db_log(0, "shapelib: %s\n", message);
}

struct ShapefileHandles {
    SHPHandle shp = nullptr;
    DBFHandle dbf = nullptr;
    ~ShapefileHandles()
    {
        if (shp) SHPClose(shp);
        if (dbf) DBFClose(dbf);
    }
};

int open_shapefile(const char *path, ShapefileHandles *h, int *nshapes, int *type)
{
    SAHooks hooks;
    SASetupDefaultHooks(&hooks);
    hooks.Error = shapelib_error;
    h->shp = SHPOpenLL(path, "rb", &hooks);
    if (!h->shp) {
        db_log(0, "%s: SHPOpen(%s) error.\n", kWho, path);
        return -1;
    }
    h->dbf = DBFOpenLL(path, "rb", &hooks);
    if (!h->dbf) {
        db_log(0, "%s: DBFOpen(%s) error: the .dbf beside it cannot be read.\n", kWho, path);
        return -1;
    }
    SHPGetInfo(h->shp, nshapes, type, nullptr, nullptr);
    int nrecords = DBFGetRecordCount(h->dbf);
    if (nrecords != *nshapes) {
        db_log(0, "%s: %s holds %d shapes but its .dbf holds %d records.\n", kWho, path, *nshapes,
               nrecords);
        return -1;
    }
    return 0;
}

// Runs one statement of no result.
int exec(DbEntry &entry, const char *sql)
{
    char *err = nullptr;
    if (sqlite3_exec(entry.handle, sql, nullptr, nullptr, &err) == SQLITE_OK) return 0;
    db_log(0, "%s: %s: %s.\n", kWho, sql, err ? err : sqlite3_errmsg(entry.handle));
    sqlite3_free(err);
    return -1;
}

int sql_error(DbEntry &entry, const char *what)
{
    db_log(0, "%s: %s in %s: %s.\n", kWho, what, entry.path.c_str(), sqlite3_errmsg(entry.handle));
    return -1;
}

std::string absolute_path(const char *path)
{
    char *resolved = realpath(path, nullptr);
    std::string result = resolved ? resolved : path;
    free(resolved);
    return result;
}

std::string utc_now()
{
    time_t now = time(nullptr);
    struct tm tm;
    char buf[32];
    gmtime_r(&now, &tm);
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// Adds the "filename" row and returns its id, or -1.
sqlite3_int64 insert_filename(DbEntry &entry, const char *path, int type, int nshapes)
{
    sqlite3_stmt *stmt = nullptr;
    const char *sql =
        "INSERT INTO filename (path, imported_at, shape_type, nrecords) VALUES (?1, ?2, ?3, ?4);";
    if (sqlite3_prepare_v2(entry.handle, sql, -1, &stmt, nullptr) != SQLITE_OK)
        return sql_error(entry, "preparing the filename row");
    std::string full = absolute_path(path), when = utc_now();
    sqlite3_bind_text(stmt, 1, full.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, when.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(stmt, 3, type);
    sqlite3_bind_int(stmt, 4, nshapes);
    int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) return sql_error(entry, "writing the filename row");
    return sqlite3_last_insert_rowid(entry.handle);
}

// Writes the shape rows of one file through one prepared statement.
class ShapeRowWriter {
public:
    ShapeRowWriter(DbEntry &entry, sqlite3_int64 file_id) : entry_(entry), file_id_(file_id) {}
    ~ShapeRowWriter() { sqlite3_finalize(stmt_); }

    int prepare()
    {
        const char *sql =
            "INSERT INTO shapefile (filename_id, record_number, shape_type, shp_offset,"
            " xmin, ymin, xmax, ymax, shape, attributes)"
            " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10);";
        if (sqlite3_prepare_v2(entry_.handle, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            return sql_error(entry_, "preparing the shape rows");
        return 0;
    }

    int write(const ShapefileHandles &h, const char *path, int i)
    {
        SHPObject *shape = SHPReadObject(h.shp, i);
        if (!shape) {
            db_log(0, "%s: record %d of %s cannot be read.\n", kWho, i + 1, path);
            return -1;
        }
        int rc = 0;
        if (!dbf_attributes_json(h.dbf, i, &attributes_)) {
            db_log(0, "%s: out of memory reading the attributes of record %d.\n", kWho, i + 1);
            rc = -1;
        }
        if (rc == 0) rc = put(shape, i + 1, h.shp->panRecOffset[i], attributes_);
        SHPDestroyObject(shape);
        return rc;
    }

    // One row: the shape as record `number`, found at `offset` of its .shp
    // (0 for shapes of other sources).
    int put(const SHPObject *shape, int number, unsigned int offset, const std::string &attributes)
    {
        if (shp_encode_object(shape, number, &record_) < 0) return -1;
        return bind_and_step(shape, offset, number, attributes);
    }

private:
    int bind_and_step(const SHPObject *shape, unsigned int offset, int number, const std::string &attributes)
    {
        sqlite3_reset(stmt_);
        sqlite3_bind_int64(stmt_, 1, file_id_);
        sqlite3_bind_int(stmt_, 2, number);
        sqlite3_bind_int(stmt_, 3, shp_get_le32(record_.data() + kShpRecordHeader));
        sqlite3_bind_int64(stmt_, 4, offset);
        bool has_box = shape->nSHPType != kShpNull && shape->nVertices > 0;
        const double box[4] = {shape->dfXMin, shape->dfYMin, shape->dfXMax, shape->dfYMax};
        for (int k = 0; k < 4; k++) {
            if (has_box)
                sqlite3_bind_double(stmt_, 5 + k, box[k]);
            else
                sqlite3_bind_null(stmt_, 5 + k);
        }
        sqlite3_bind_blob(stmt_, 9, record_.data(), static_cast<int>(record_.size()), SQLITE_STATIC);
        sqlite3_bind_text(stmt_, 10, attributes.c_str(), static_cast<int>(attributes.size()), SQLITE_STATIC);
        if (sqlite3_step(stmt_) != SQLITE_DONE) return sql_error(entry_, "writing a shape row");
        return 0;
    }

    DbEntry &entry_;
    sqlite3_int64 file_id_;
    sqlite3_stmt *stmt_ = nullptr;
    std::vector<unsigned char> record_;
    std::string attributes_;
};

int write_rows(DbEntry &entry, const ShapefileHandles &h, const char *path, int type, int nshapes)
{
    sqlite3_int64 file_id = insert_filename(entry, path, type, nshapes);
    if (file_id < 0) return -1;
    ShapeRowWriter writer(entry, file_id);
    if (writer.prepare() < 0) return -1;
    for (int i = 0; i < nshapes; i++)
        if (writer.write(h, path, i) < 0) return -1;
    return 0;
}

// The database entry to import into, open for writing; null after
// registering why not.
std::shared_ptr<DbEntry> writable_entry(Dbptr db)
{
    std::shared_ptr<DbEntry> entry = db_open_entry(db, kWho);
    if (entry && !entry->writable) {
        db_log(0, "%s: database %s is open read-only.\n", kWho, entry->path.c_str());
        return nullptr;
    }
    return entry;
}

// Runs `rows` (the writing of one source's rows) in one transaction: all
// of them are kept, or none.
template <class Rows>
long in_transaction(DbEntry &entry, const char *source, Rows rows)
{
    std::lock_guard<std::mutex> lock(entry.mutex);
    db_end_read(entry);  // a scan that stopped early gives way to the writer
    if (exec(entry, "BEGIN IMMEDIATE;") < 0) return -1;
    long n = rows();
    if (n < 0) {
        sqlite3_exec(entry.handle, "ROLLBACK;", nullptr, nullptr, nullptr);
        db_log(0, "%s: nothing of %s was imported into %s.\n", kWho, source, entry.path.c_str());
        return -1;
    }
    if (exec(entry, "COMMIT;") < 0) {
        sqlite3_exec(entry.handle, "ROLLBACK;", nullptr, nullptr, nullptr);
        return -1;
    }
    return n;
}

// A given shape as shapelib holds it, after checking its parts; null after
// registering what is wrong.
SHPObject *object_of(const ShpdbShape &s, long number, const char *source)
{
    bool ok = (s.shape_type == kShpPolyLine || s.shape_type == kShpPolygon) && s.nparts >= 1 &&
              s.npoints >= 1 && s.parts && s.x && s.y && s.parts[0] == 0;
    for (int p = 1; ok && p < s.nparts; p++) ok = s.parts[p] >= s.parts[p - 1] && s.parts[p] <= s.npoints;
    if (!ok) {
        db_log(0, "%s: shape %ld of %s is not a PolyLine or Polygon with parts in order.\n", kWho, number, source);
        return nullptr;
    }
    SHPObject *o = SHPCreateObject(s.shape_type, -1, s.nparts, s.parts, nullptr, s.npoints, s.x, s.y, nullptr,
                                   nullptr);
    if (!o) db_log(0, "%s: out of memory for shape %ld of %s.\n", kWho, number, source);
    return o;
}

// The filename row learns its count and shape type (0 when mixed) once
// every shape is in.
int finish_filename(DbEntry &entry, sqlite3_int64 id, int type, long n)
{
    sqlite3_stmt *stmt = nullptr;
    const char *sql = "UPDATE filename SET shape_type = ?1, nrecords = ?2 WHERE id = ?3;";
    if (sqlite3_prepare_v2(entry.handle, sql, -1, &stmt, nullptr) != SQLITE_OK)
        return sql_error(entry, "preparing the filename count");
    sqlite3_bind_int(stmt, 1, type);
    sqlite3_bind_int64(stmt, 2, n);
    sqlite3_bind_int64(stmt, 3, id);
    int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    return rc == SQLITE_DONE ? 0 : sql_error(entry, "writing the filename count");
}

long write_given_rows(DbEntry &entry, const char *source, ShpdbNextShape next, void *arg)
{
    sqlite3_int64 file_id = insert_filename(entry, source, 0, 0);
    if (file_id < 0) return -1;
    ShapeRowWriter writer(entry, file_id);
    if (writer.prepare() < 0) return -1;
    long n = 0;
    int type = -1;
    for (;;) {
        ShpdbShape s = {};
        int more = next(arg, &s);
        if (more < 0) return -1;
        if (more == 0) break;
        SHPObject *o = object_of(s, n + 1, source);
        if (!o) return -1;
        int rc = n >= INT_MAX ? -1 : writer.put(o, static_cast<int>(n + 1), 0, s.attributes ? s.attributes : "{}");
        SHPDestroyObject(o);
        if (rc < 0) return -1;
        type = type < 0 || type == s.shape_type ? s.shape_type : 0;
        n++;
    }
    return finish_filename(entry, file_id, type < 0 ? 0 : type, n) < 0 ? -1 : n;
}

}  // namespace

extern "C" long shp2db_import(Dbptr db, const char *shp_path)
{
    if (!shp_path) {
        db_log(0, "%s: no shapefile name.\n", kWho);
        return -1;
    }
    std::shared_ptr<DbEntry> entry = writable_entry(db);
    if (!entry) return -1;
    ShapefileHandles h;
    int nshapes = 0, type = 0;
    if (open_shapefile(shp_path, &h, &nshapes, &type) < 0) return -1;
    if (type == kShpMultiPatch) {
        db_log(0, "%s: %s holds MultiPatch shapes, which are not supported.\n", kWho, shp_path);
        return -1;
    }
    return in_transaction(*entry, shp_path, [&]() -> long {
        return write_rows(*entry, h, shp_path, type, nshapes) < 0 ? -1 : nshapes;
    });
}

extern "C" long shpdb_import_shapes(Dbptr db, const char *source, ShpdbNextShape next, void *arg)
{
    if (!source || !next) {
        db_log(0, "%s: no source name or no shapes.\n", kWho);
        return -1;
    }
    std::shared_ptr<DbEntry> entry = writable_entry(db);
    if (!entry) return -1;
    return in_transaction(*entry, source, [&]() { return write_given_rows(*entry, source, next, arg); });
}
