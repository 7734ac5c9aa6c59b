// The relational database: opening and closing SQLite files, the registry
// of open databases, table look-up and the two queries the map library
// asks (the database's file name and a table's row count).

#include <string.h>

#include <map>

#include "db_internal.h"

const char *const kDbSchema =
    "CREATE TABLE IF NOT EXISTS filename ("
    " id INTEGER PRIMARY KEY,"
    " path TEXT NOT NULL,"
    " imported_at TEXT NOT NULL,"
    " shape_type INTEGER NOT NULL,"
    " nrecords INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS shapefile ("
    " id INTEGER PRIMARY KEY,"
    " filename_id INTEGER NOT NULL REFERENCES filename(id),"
    " record_number INTEGER NOT NULL,"
    " shape_type INTEGER NOT NULL,"
    " shp_offset INTEGER NOT NULL,"
    " xmin REAL, ymin REAL, xmax REAL, ymax REAL,"
    " shape BLOB NOT NULL,"
    " attributes TEXT NOT NULL DEFAULT '{}');"
    "CREATE INDEX IF NOT EXISTS shapefile_by_file"
    " ON shapefile(filename_id, record_number);";

namespace {

// Other writers (sqlite3 shell, a second program) may hold the file for a
// moment; wait rather than fail at once.
const int kBusyTimeoutMs = 5000;

struct Registry {
    std::mutex mutex;
    std::map<long, std::shared_ptr<DbEntry>> open;
    long next_id = 0;
};

Registry &registry()
{
    static Registry r;
    return r;
}

bool valid_mode(const char *mode, bool *writable)
{
    if (!mode) return false;
    if (strcmp(mode, "r") == 0) {
        *writable = false;
        return true;
    }
    if (strcmp(mode, "r+") == 0) {
        *writable = true;
        return true;
    }
    return false;
}

// Makes sure the file is a database (SQLite opens lazily) and, for a
// writable one, that the schema is there.
int prepare_connection(DbEntry &entry)
{
    const char *sql = entry.writable ? kDbSchema : "SELECT count(*) FROM sqlite_master;";
    char *err = nullptr;
    if (sqlite3_exec(entry.handle, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        db_log(0, "dbopen: %s: %s.\n", entry.path.c_str(), err ? err : sqlite3_errmsg(entry.handle));
        sqlite3_free(err);
        return -1;
    }
    if (sqlite3_prepare_v2(entry.handle, "PRAGMA data_version;", -1, &entry.data_version,
                           nullptr) != SQLITE_OK) {
        db_log(0, "dbopen: %s: %s.\n", entry.path.c_str(), sqlite3_errmsg(entry.handle));
        return -1;
    }
    return 0;
}

bool table_exists(sqlite3 *handle, const char *name)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(handle,
                           "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1;", -1,
                           &stmt, nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_text(stmt, 1, name, -1, SQLITE_STATIC);
    bool found = sqlite3_step(stmt) == SQLITE_ROW;
    sqlite3_finalize(stmt);
    return found;
}

sqlite3_int64 current_data_version(DbEntry &entry)
{
    sqlite3_int64 v = -1;
    if (sqlite3_step(entry.data_version) == SQLITE_ROW) v = sqlite3_column_int64(entry.data_version, 0);
    sqlite3_reset(entry.data_version);
    return v;
}

}  // namespace

DbEntry::~DbEntry()
{
    for (DbTable &t : tables) sqlite3_finalize(t.read_shape);
    sqlite3_finalize(data_version);
    sqlite3_close_v2(handle);
}

void db_log(int flag, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    elog_log(flag, format, args);
    va_end(args);
}

std::string db_quote_identifier(const std::string &name)
{
    std::string q = "\"";
    for (char c : name) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

std::shared_ptr<DbEntry> db_entry(const Dbptr &db)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.open.find(db.database);
    return it == r.open.end() ? nullptr : it->second;
}

std::shared_ptr<DbEntry> db_open_entry(const Dbptr &db, const char *who)
{
    std::shared_ptr<DbEntry> entry = db_entry(db);
    if (!entry) db_log(0, "%s: no open database %ld.\n", who, db.database);
    return entry;
}

DbTable *db_table(DbEntry &entry, const Dbptr &db)
{
    if (db.table < 0 || db.table >= static_cast<long>(entry.tables.size())) return nullptr;
    return &entry.tables[static_cast<size_t>(db.table)];
}

int db_refresh_index(DbEntry &entry, DbTable &table, const char *who)
{
    DbRowIndex &index = table.index;
    sqlite3_int64 version = current_data_version(entry);
    sqlite3_int64 changes = sqlite3_total_changes64(entry.handle);
    if (index.built && index.data_version == version && index.total_changes == changes) return 0;

    std::string sql = "SELECT rowid FROM " + db_quote_identifier(table.name) + " ORDER BY rowid;";
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(entry.handle, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        db_log(0, "%s: table %s of %s: %s.\n", who, table.name.c_str(), entry.path.c_str(),
               sqlite3_errmsg(entry.handle));
        return -1;
    }
    index.built = false;
    index.rowids.clear();
    int rc;
    try {
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) index.rowids.push_back(sqlite3_column_int64(stmt, 0));
    } catch (...) {
        sqlite3_finalize(stmt);
        index.rowids.clear();
        db_log(0, "%s: out of memory indexing table %s of %s.\n", who, table.name.c_str(),
               entry.path.c_str());
        return -1;
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        index.rowids.clear();
        db_log(0, "%s: table %s of %s: %s.\n", who, table.name.c_str(), entry.path.c_str(),
               sqlite3_errmsg(entry.handle));
        return -1;
    }
    index.built = true;
    index.data_version = version;
    index.total_changes = changes;
    return 0;
}

int db_begin_read(DbEntry &entry, const char *who)
{
    if (entry.reading) return 0;
    char *err = nullptr;
    if (sqlite3_exec(entry.handle, "BEGIN;", nullptr, nullptr, &err) != SQLITE_OK) {
        db_log(0, "%s: %s: %s.\n", who, entry.path.c_str(), err ? err : sqlite3_errmsg(entry.handle));
        sqlite3_free(err);
        return -1;
    }
    entry.reading = true;
    return 0;
}

void db_end_read(DbEntry &entry)
{
    if (!entry.reading) return;
    sqlite3_exec(entry.handle, "COMMIT;", nullptr, nullptr, nullptr);
    entry.reading = false;
}

extern "C" {

int dbopen(const char *path, const char *mode, Dbptr *db)
{
    if (!db) {
        db_log(0, "dbopen: no place for the database pointer.\n");
        return -1;
    }
    *db = dbinvalid();
    bool writable = false;
    if (!path || !*path) {
        db_log(0, "dbopen: no database file name.\n");
        return -1;
    }
    if (!valid_mode(mode, &writable)) {
        db_log(0, "dbopen: mode %s of %s is neither \"r\" nor \"r+\".\n", mode ? mode : "(null)", path);
        return -1;
    }
    std::shared_ptr<DbEntry> entry;
    try {
        entry = std::make_shared<DbEntry>();
        entry->path = path;
    } catch (...) {
        db_log(0, "dbopen: out of memory opening %s.\n", path);
        return -1;
    }
    entry->writable = writable;
    int flags = writable ? (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(path, &entry->handle, flags, nullptr) != SQLITE_OK) {
        db_log(0, "dbopen: sqlite3_open_v2(%s) error: %s.\n", path,
               entry->handle ? sqlite3_errmsg(entry->handle) : "out of memory");
        return -1;
    }
    sqlite3_busy_timeout(entry->handle, kBusyTimeoutMs);
    if (prepare_connection(*entry) < 0) return -1;

    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    try {
        r.open[r.next_id] = entry;
    } catch (...) {
        db_log(0, "dbopen: out of memory registering %s.\n", path);
        return -1;
    }
    db->database = r.next_id++;
    return 0;
}

int dbclose(Dbptr db)
{
    std::shared_ptr<DbEntry> entry;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.open.find(db.database);
        if (it == r.open.end()) {
            db_log(0, "dbclose: no open database %ld.\n", db.database);
            return -1;
        }
        entry = it->second;
        r.open.erase(it);
    }
    // The connection closes when the last user lets go of the entry.
    return 0;
}

Dbptr dblookup(Dbptr db, const char *, const char *table, const char *, const char *)
{
    Dbptr result = dbinvalid();
    std::shared_ptr<DbEntry> entry = db_entry(db);
    if (!entry || !table) return result;
    result.database = db.database;
    std::lock_guard<std::mutex> lock(entry->mutex);
    for (size_t i = 0; i < entry->tables.size(); i++) {
        if (entry->tables[i].name == table) {
            result.table = static_cast<long>(i);
            break;
        }
    }
    if (result.table == dbINVALID && table_exists(entry->handle, table)) {
        try {
            entry->tables.emplace_back();
            entry->tables.back().name = table;
        } catch (...) {
            return result;  // no room to remember it: the table is not found
        }
        result.table = static_cast<long>(entry->tables.size() - 1);
    }
    if (result.table != dbINVALID) result.field = result.record = dbALL;
    return result;
}

int dbquery(Dbptr db, int code, void *value)
{
    if (!value) {
        db_log(0, "dbquery: no place for the answer to code %d.\n", code);
        return -1;
    }
    if (code == dbDATABASE_FILENAME) *static_cast<char **>(value) = nullptr;
    std::shared_ptr<DbEntry> entry = db_open_entry(db, "dbquery");
    if (!entry) return -1;
    std::lock_guard<std::mutex> lock(entry->mutex);
    if (code == dbDATABASE_FILENAME) {
        // The registry keeps the text until dbclose.
        *static_cast<char **>(value) = const_cast<char *>(entry->path.c_str());
        return 0;
    }
    if (code != dbRECORD_COUNT) {
        db_log(0, "dbquery: unknown code %d.\n", code);
        return -1;
    }
    DbTable *table = db_table(*entry, db);
    if (!table) {
        db_log(0, "dbquery: no table %ld in database %s.\n", db.table, entry->path.c_str());
        return -1;
    }
    if (db_refresh_index(*entry, *table, "dbquery") < 0) return -1;
    *static_cast<long *>(value) = static_cast<long>(table->index.rowids.size());
    return 0;
}

}  // extern "C"
