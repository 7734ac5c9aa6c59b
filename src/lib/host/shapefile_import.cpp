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
        int rc = encode(h, shape, i);
        if (rc == 0) rc = bind_and_step(shape, h.shp->panRecOffset[i], i);
        SHPDestroyObject(shape);
        return rc;
    }

private:
    int encode(const ShapefileHandles &h, const SHPObject *shape, int i)
    {
        if (shp_encode_object(shape, i + 1, &record_) < 0) return -1;
        if (!dbf_attributes_json(h.dbf, i, &attributes_)) {
            db_log(0, "%s: out of memory reading the attributes of record %d.\n", kWho, i + 1);
            return -1;
        }
        return 0;
    }

    int bind_and_step(const SHPObject *shape, unsigned int offset, int i)
    {
        sqlite3_reset(stmt_);
        sqlite3_bind_int64(stmt_, 1, file_id_);
        sqlite3_bind_int(stmt_, 2, i + 1);
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
        sqlite3_bind_text(stmt_, 10, attributes_.c_str(), static_cast<int>(attributes_.size()),
                          SQLITE_STATIC);
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

}  // namespace

extern "C" long shp2db_import(Dbptr db, const char *shp_path)
{
    if (!shp_path) {
        db_log(0, "%s: no shapefile name.\n", kWho);
        return -1;
    }
    std::shared_ptr<DbEntry> entry = db_open_entry(db, kWho);
    if (!entry) return -1;
    if (!entry->writable) {
        db_log(0, "%s: database %s is open read-only.\n", kWho, entry->path.c_str());
        return -1;
    }
    ShapefileHandles h;
    int nshapes = 0, type = 0;
    if (open_shapefile(shp_path, &h, &nshapes, &type) < 0) return -1;
    if (type == kShpMultiPatch) {
        db_log(0, "%s: %s holds MultiPatch shapes, which are not supported.\n", kWho, shp_path);
        return -1;
    }

    std::lock_guard<std::mutex> lock(entry->mutex);
    db_end_read(*entry);  // a scan that stopped early gives way to the writer
    if (exec(*entry, "BEGIN IMMEDIATE;") < 0) return -1;
    if (write_rows(*entry, h, shp_path, type, nshapes) < 0) {
        sqlite3_exec(entry->handle, "ROLLBACK;", nullptr, nullptr, nullptr);
        db_log(0, "%s: nothing of %s was imported into %s.\n", kWho, shp_path, entry->path.c_str());
        return -1;
    }
    if (exec(*entry, "COMMIT;") < 0) {
        sqlite3_exec(entry->handle, "ROLLBACK;", nullptr, nullptr, nullptr);
        return -1;
    }
    return nshapes;
}
