/*
 * Shared by the database files of the host toolkit; not installed.
 *
 * Every open database is one entry of a process-wide registry, keyed by the
 * number a Dbptr carries in `database`. An entry is handed out as a shared
 * pointer, so a dbclose on one thread never frees a connection another
 * thread is still using; each entry has its own mutex for its connection,
 * its statements and its row index.
 */
#ifndef ORVEX_HOST_DB_INTERNAL_H
#define ORVEX_HOST_DB_INTERNAL_H

#include <sqlite3.h>
#include <stdarg.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hostkit.h"

/* The row numbers of one table: row r of the table is the row whose rowid
 * is rowids[r], rows being counted in rowid order. Built in one pass and
 * rebuilt when the database has changed, so that reading row r costs a
 * rowid look-up, never a scan of the rows before it. */
struct DbRowIndex {
    std::vector<sqlite3_int64> rowids;
    bool built = false;
    sqlite3_int64 data_version = -1; /* changes made by other connections */
    sqlite3_int64 total_changes = -1; /* changes made by this connection */
};

struct DbTable {
    std::string name;
    DbRowIndex index;
    sqlite3_stmt *read_shape = nullptr; /* shape and offset of one rowid */
};

struct DbEntry {
    std::mutex mutex;
    sqlite3 *handle = nullptr;
    std::string path;
    bool writable = false;
    std::vector<DbTable> tables; /* Dbptr.table indexes this list */
    sqlite3_stmt *data_version = nullptr;
    bool reading = false; /* a read transaction over a run of rows is open */

    ~DbEntry();
};

/* The open database that db designates, or null (nothing registered). */
std::shared_ptr<DbEntry> db_entry(const Dbptr &db);
/* The same, registering "<who>: no open database <n>." when there is none. */
std::shared_ptr<DbEntry> db_open_entry(const Dbptr &db, const char *who);
/* The table of an entry that db designates, or null. The entry's mutex must
 * be held. */
DbTable *db_table(DbEntry &entry, const Dbptr &db);
/* Brings the table's row index up to date. Returns 0, or -1 with a
 * registered message beginning with `who`. The entry's mutex must be held. */
int db_refresh_index(DbEntry &entry, DbTable &table, const char *who);
/* Reading row after row, each in a statement of its own, would take and
 * drop the file lock and revalidate the page cache every time; a read
 * transaction held from the first row to the last makes the rows one
 * consistent snapshot and costs those system calls once. Returns 0, or -1
 * with a registered message. The entry's mutex must be held. */
int db_begin_read(DbEntry &entry, const char *who);
/* Ends the read transaction, if one is open. */
void db_end_read(DbEntry &entry);
/* The identifier quoted for SQL ("a""b" for a"b). */
std::string db_quote_identifier(const std::string &name);

/* Registers a message in the error register. */
void db_log(int flag, const char *format, ...) __attribute__((format(printf, 2, 3)));

/* The schema of a database opened for writing. */
extern const char *const kDbSchema;

#endif
