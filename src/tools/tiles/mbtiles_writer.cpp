// The MBTiles writer: an SQLite file with the metadata table, each distinct
// tile content once in `images` (named by its place in the deduplicating
// store), `map` rows pointing at them with rows counted from the south, and
// the `tiles` view that readers query.
#include <stdio.h>

#include <memory>

#include <sqlite3.h>

#include "Orvex.h"
#include "archive.h"
#include "tile_id.h"
#include "tile_store.h"

namespace orvextiles {

namespace {

const char kSchema[] =
    "PRAGMA journal_mode=OFF;"
    "PRAGMA synchronous=OFF;"
    "PRAGMA page_size=4096;"
    "CREATE TABLE metadata (name TEXT, value TEXT);"
    "CREATE TABLE map (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_id TEXT);"
    "CREATE TABLE images (tile_data BLOB, tile_id TEXT);"
    "CREATE VIEW tiles AS SELECT map.zoom_level AS zoom_level, map.tile_column AS tile_column,"
    " map.tile_row AS tile_row, images.tile_data AS tile_data"
    " FROM map JOIN images ON images.tile_id = map.tile_id;"
    "BEGIN;";
/* Indexes made once every row is in, which is quicker than keeping them
 * up to date row by row. */
const char kIndexes[] =
    "CREATE UNIQUE INDEX map_index ON map (zoom_level, tile_column, tile_row);"
    "CREATE UNIQUE INDEX images_id ON images (tile_id);"
    "CREATE UNIQUE INDEX name ON metadata (name);"
    "COMMIT;";

class MbtilesWriter : public ArchiveWriter {
public:
    ~MbtilesWriter() override { close_all(); }

    int begin(const std::string &path, const std::string &scratch) override
    {
        path_ = path;
        remove(path.c_str());
        if (store_.open(scratch) != 0) return -1;
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
            return failed("cannot create");
        if (sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
            sqlite3_prepare_v2(db_, "INSERT INTO map VALUES (?, ?, ?, ?)", -1, &map_, nullptr) != SQLITE_OK ||
            sqlite3_prepare_v2(db_, "INSERT INTO images VALUES (?, ?)", -1, &image_, nullptr) != SQLITE_OK)
            return failed("cannot set up");
        return 0;
    }

    int add(uint64_t, int z, uint32_t x, uint32_t y, const std::string &bytes) override
    {
        uint64_t offset = 0;
        bool fresh = false;
        if (store_.add(bytes, &offset, &fresh) != 0) return -1;
        /* The content's place in the store names it: equal names, equal
         * bytes. */
        char name[24];
        snprintf(name, sizeof name, "%llx", static_cast<unsigned long long>(offset));
        if (fresh) {
            sqlite3_bind_blob64(image_, 1, bytes.data(), bytes.size(), SQLITE_STATIC);
            sqlite3_bind_text(image_, 2, name, -1, SQLITE_STATIC);
            if (step(image_) != 0) return -1;
        }
        sqlite3_bind_int(map_, 1, z);
        sqlite3_bind_int64(map_, 2, x);
        sqlite3_bind_int64(map_, 3, tms_row(z, y));
        sqlite3_bind_text(map_, 4, name, -1, SQLITE_STATIC);
        if (step(map_) != 0) return -1;
        counts_.tiles++;
        counts_.contents = store_.contents();
        counts_.tile_bytes += bytes.size();
        return 0;
    }

    int finish(const ArchiveInfo &info) override
    {
        sqlite3_stmt *meta = nullptr;
        if (sqlite3_prepare_v2(db_, "INSERT INTO metadata VALUES (?, ?)", -1, &meta, nullptr) != SQLITE_OK)
            return failed("cannot write the metadata of");
        for (const auto &row : mbtiles_metadata(info)) {
            sqlite3_bind_text(meta, 1, row.first.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(meta, 2, row.second.c_str(), -1, SQLITE_TRANSIENT);
            if (step(meta) != 0) {
                sqlite3_finalize(meta);
                return -1;
            }
        }
        sqlite3_finalize(meta);
        if (sqlite3_exec(db_, kIndexes, nullptr, nullptr, nullptr) != SQLITE_OK) return failed("cannot index");
        return close_all() == SQLITE_OK ? 0 : failed("cannot close");
    }

private:
    int step(sqlite3_stmt *s)
    {
        int rc = sqlite3_step(s);
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        return rc == SQLITE_DONE ? 0 : failed("cannot write a tile to");
    }

    int failed(const char *what)
    {
        orvex_register_error(0, "mbtiles: %s '%s': %s\n", what, path_.c_str(),
                             db_ ? sqlite3_errmsg(db_) : "out of memory");
        return -1;
    }

    int close_all()
    {
        sqlite3_finalize(map_);
        sqlite3_finalize(image_);
        map_ = image_ = nullptr;
        int rc = sqlite3_close(db_);
        if (rc == SQLITE_OK) db_ = nullptr;
        return rc;
    }

    std::string path_;
    TileStore store_;
    sqlite3 *db_ = nullptr;
    sqlite3_stmt *map_ = nullptr, *image_ = nullptr;
};

}  // namespace

ArchiveWriter *new_mbtiles_writer()
{
    return new MbtilesWriter;
}

}  // namespace orvextiles
