// Tile archives byte for byte: tile numbers on the Hilbert curve, varint
// directories, the PMTiles header, leaf directories, deduplication, the
// MBTiles tables read back through SQLite, the ordered multi-threaded run,
// and the Terrarium encoding of elevations.
#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <tuple>
#include <thread>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <zlib.h>

#include "Orvex.h"
#include "archive.h"
#include "draw.h"
#include "pmtiles_writer.h"
#include "tile_id.h"
#include "tile_run.h"
#include "tile_store.h"

using namespace orvextiles;

namespace {

std::string hex(const std::string &bytes)
{
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        snprintf(b, sizeof b, "%02x", c);
        out += b;
    }
    return out;
}

std::string gunzip(const std::string &in)
{
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, 16 + 15), Z_OK);
    std::string out(1 << 22, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef *>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

/* A reader of directories written independently of the writer. */
std::vector<PmEntry> read_directory(const std::string &bytes)
{
    size_t pos = 0;
    auto varint = [&]() {
        uint64_t v = 0;
        for (int shift = 0; pos < bytes.size(); shift += 7) {
            unsigned char c = static_cast<unsigned char>(bytes[pos++]);
            v |= uint64_t(c & 0x7f) << shift;
            if (!(c & 0x80)) break;
        }
        return v;
    };
    std::vector<PmEntry> e(varint());
    uint64_t id = 0;
    for (PmEntry &x : e) x.tile_id = id += varint();
    for (PmEntry &x : e) x.run = static_cast<uint32_t>(varint());
    for (PmEntry &x : e) x.length = static_cast<uint32_t>(varint());
    for (size_t k = 0; k < e.size(); k++) {
        uint64_t v = varint();
        e[k].offset = v == 0 && k > 0 ? e[k - 1].offset + e[k - 1].length : v - 1;
    }
    EXPECT_EQ(pos, bytes.size());
    return e;
}

uint64_t le(const std::string &b, size_t at, int n)
{
    uint64_t v = 0;
    for (int k = n - 1; k >= 0; k--) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<size_t>(k)]);
    return v;
}

std::string slurp(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

struct TempDir {
    std::string path;
    TempDir()
    {
        char name[] = "/tmp/orvex-tiles-XXXXXX";
        path = mkdtemp(name);
    }
    ~TempDir() { EXPECT_EQ(system(("rm -rf '" + path + "'").c_str()), 0); }
};

}  // namespace

TEST(TileNumbers, HilbertOrderOfTheFirstZooms)
{
    EXPECT_EQ(tile_id(0, 0, 0), 0u);
    /* Zoom 1 runs (0,0), (0,1), (1,1), (1,0). */
    EXPECT_EQ(tile_id(1, 0, 0), 1u);
    EXPECT_EQ(tile_id(1, 0, 1), 2u);
    EXPECT_EQ(tile_id(1, 1, 1), 3u);
    EXPECT_EQ(tile_id(1, 1, 0), 4u);
    EXPECT_EQ(tile_id(2, 0, 0), 5u);
    EXPECT_EQ(tile_id(3, 0, 0), 21u);
    EXPECT_EQ(tile_id(20, 0, 0), 366503875925u);
    /* Every tile of a zoom once, in its zoom's range of numbers, and back. */
    for (int z = 0; z <= 6; z++) {
        uint32_t n = 1u << z;
        uint64_t first = ((uint64_t(1) << (2 * z)) - 1) / 3;
        std::set<uint64_t> seen;
        for (uint32_t x = 0; x < n; x++)
            for (uint32_t y = 0; y < n; y++) {
                uint64_t id = tile_id(z, x, y);
                ASSERT_GE(id, first);
                ASSERT_LT(id, first + uint64_t(n) * n);
                seen.insert(id);
                int zz;
                uint32_t xx, yy;
                ASSERT_TRUE(tile_of_id(id, &zz, &xx, &yy));
                ASSERT_EQ(zz, z);
                ASSERT_EQ(xx, x);
                ASSERT_EQ(yy, y);
            }
        EXPECT_EQ(seen.size(), size_t(n) * n);
    }
    /* Consecutive numbers are neighbouring tiles. */
    for (uint64_t id = 85; id + 1 < 341; id++) {
        int z1, z2;
        uint32_t x1, y1, x2, y2;
        tile_of_id(id, &z1, &x1, &y1);
        tile_of_id(id + 1, &z2, &x2, &y2);
        EXPECT_EQ(std::abs(int(x1) - int(x2)) + std::abs(int(y1) - int(y2)), 1) << id;
    }
    EXPECT_EQ(tms_row(3, 0), 7u);
    EXPECT_EQ(tms_row(3, 7), 0u);
}

TEST(TileNumbers, TilesARegionTouches)
{
    orvextool::Region world;
    EXPECT_EQ(tiles_of_region(0, 2, world).size(), 21u);
    EXPECT_EQ(tiles_of_region(7, 7, world).size(), 16384u);
    /* Across 180 degrees: the first and the last column. */
    orvextool::Region across;
    std::string why;
    ASSERT_TRUE(orvextool::parse_region("170/-170/-10/10", &across, &why));
    std::vector<uint32_t> cols;
    uint32_t r0, r1;
    region_columns(2, across, &cols, &r0, &r1);
    EXPECT_EQ(cols, (std::vector<uint32_t>{0, 3}));
    EXPECT_EQ(r0, 1u);
    EXPECT_EQ(r1, 2u);
    /* A region ending on a tile edge stays out of the tile beyond. */
    orvextool::Region quarter;
    ASSERT_TRUE(orvextool::parse_region("0/90/0/80", &quarter, &why));
    region_columns(2, quarter, &cols, &r0, &r1);
    EXPECT_EQ(cols, (std::vector<uint32_t>{2}));
    EXPECT_EQ(r0, 0u);
    EXPECT_EQ(r1, 1u);
    std::vector<uint64_t> ids = tiles_of_region(0, 3, quarter);
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
}

TEST(PmtilesBytes, VarintsAndDirectoryColumns)
{
    std::string v;
    for (uint64_t x : {0ull, 127ull, 128ull, 300ull, 16384ull}) put_varint(&v, x);
    EXPECT_EQ(hex(v), "007f8001ac02808001");
    /* Tile 0; tiles 1-3 of one content right after it; tile 5 again the
     * first content. Offsets: +1, 0 for "follows", +1. */
    std::vector<PmEntry> e(3);
    e[0].tile_id = 0, e[0].offset = 0, e[0].length = 10;
    e[1].tile_id = 1, e[1].offset = 10, e[1].length = 5, e[1].run = 3;
    e[2].tile_id = 5, e[2].offset = 0, e[2].length = 10;
    EXPECT_EQ(hex(directory_bytes(e)), "03" "000104" "010301" "0a050a" "010001");
}

TEST(PmtilesBytes, HeaderFields)
{
    PmHeader h;
    h.root_offset = 127;
    h.root_length = 0x1234;
    h.data_length = 0x0102030405060708ULL;
    h.addressed_tiles = 21845;
    h.min_zoom = 0;
    h.max_zoom = 7;
    h.center_zoom = 2;
    h.west = -180;
    h.south = -85.0511287798066;
    h.east = 180;
    h.north = 85.0511287798066;
    h.center_lon = 12.5;
    h.center_lat = -0.00000005;
    std::string b = pmtiles_header(h);
    ASSERT_EQ(b.size(), 127u);
    EXPECT_EQ(b.substr(0, 8), std::string("PMTiles\x03", 8));
    EXPECT_EQ(le(b, 8, 8), 127u);
    EXPECT_EQ(le(b, 16, 8), 0x1234u);
    EXPECT_EQ(hex(b.substr(64, 8)), "0807060504030201");
    EXPECT_EQ(le(b, 72, 8), 21845u);
    EXPECT_EQ(hex(b.substr(96, 6)), "010201020007"); /* clustered, gzip, none, png, zooms */
    EXPECT_EQ(static_cast<int32_t>(le(b, 102, 4)), -1800000000);
    EXPECT_EQ(static_cast<int32_t>(le(b, 106, 4)), -850511288);
    EXPECT_EQ(static_cast<int32_t>(le(b, 110, 4)), 1800000000);
    EXPECT_EQ(static_cast<int32_t>(le(b, 114, 4)), 850511288);
    EXPECT_EQ(b[118], 2);
    EXPECT_EQ(static_cast<int32_t>(le(b, 119, 4)), 125000000);
    EXPECT_EQ(static_cast<int32_t>(le(b, 123, 4)), -1); /* rounded, not truncated */
}

TEST(PmtilesBytes, LeafDirectoriesKeepTheRootSmall)
{
    /* 100,000 distinct tiles cannot sit in a 2 KiB root. */
    std::vector<PmEntry> e(100000);
    for (size_t k = 0; k < e.size(); k++) {
        e[k].tile_id = k * 2;
        e[k].offset = k * 1000;
        e[k].length = 900 + k % 97;
    }
    std::string root, leaves;
    ASSERT_EQ(build_directories(e, 2048, &root, &leaves), 0);
    ASSERT_LE(root.size(), 2048u);
    std::vector<PmEntry> index = read_directory(gunzip(root));
    ASSERT_GT(index.size(), 1u);
    std::vector<PmEntry> back;
    for (const PmEntry &leaf : index) {
        EXPECT_EQ(leaf.run, 0u);
        std::vector<PmEntry> part = read_directory(gunzip(leaves.substr(leaf.offset, leaf.length)));
        EXPECT_EQ(part.front().tile_id, leaf.tile_id);
        back.insert(back.end(), part.begin(), part.end());
    }
    ASSERT_EQ(back.size(), e.size());
    for (size_t k = 0; k < e.size(); k += 997) {
        EXPECT_EQ(back[k].tile_id, e[k].tile_id);
        EXPECT_EQ(back[k].offset, e[k].offset);
        EXPECT_EQ(back[k].length, e[k].length);
    }
    /* Small directories stay in the root alone. */
    e.resize(50);
    ASSERT_EQ(build_directories(e, kPmRootLimit, &root, &leaves), 0);
    EXPECT_TRUE(leaves.empty());
    EXPECT_EQ(read_directory(gunzip(root)).size(), 50u);
}

TEST(TileArchives, StoreKeepsEachContentOnce)
{
    TempDir dir;
    TileStore store;
    ASSERT_EQ(store.open(dir.path + "/data"), 0);
    uint64_t off;
    bool fresh;
    std::string sea(5000, 's'), land = "land", prefix(4000, 's');
    ASSERT_EQ(store.add(sea, &off, &fresh), 0);
    EXPECT_TRUE(fresh);
    EXPECT_EQ(off, 0u);
    ASSERT_EQ(store.add(land, &off, &fresh), 0);
    EXPECT_EQ(off, 5000u);
    ASSERT_EQ(store.add(sea, &off, &fresh), 0);
    EXPECT_FALSE(fresh);
    EXPECT_EQ(off, 0u);
    /* The start of a stored content is not that content. */
    ASSERT_EQ(store.add(prefix, &off, &fresh), 0);
    EXPECT_TRUE(fresh);
    EXPECT_EQ(store.contents(), 3);
    EXPECT_EQ(store.bytes(), 9004u);
    EXPECT_EQ(slurp(dir.path + "/data"), sea + land + prefix);
}

TEST(TileArchives, PmtilesRunsAndCounts)
{
    TempDir dir;
    std::unique_ptr<ArchiveWriter> w(new_pmtiles_writer());
    ASSERT_EQ(w->begin(dir.path + "/a.pmtiles", dir.path + "/scratch"), 0);
    /* Zoom 0 and 1: the three last tiles of zoom 1 alike. */
    const char *content[] = {"world", "nw", "sea", "sea", "sea"};
    for (uint64_t id = 0; id < 5; id++) {
        int z;
        uint32_t x, y;
        tile_of_id(id, &z, &x, &y);
        ASSERT_EQ(w->add(id, z, x, y, content[id]), 0);
    }
    EXPECT_NE(w->add(3, 1, 1, 1, "late"), 0); /* out of order */
    elog_clear_register(0);
    ArchiveInfo info;
    info.name = "t";
    info.maxzoom = 1;
    ASSERT_EQ(w->finish(info), 0);
    EXPECT_EQ(w->counts().tiles, 5);
    EXPECT_EQ(w->counts().contents, 3);
    std::string b = slurp(dir.path + "/a.pmtiles");
    ASSERT_GT(b.size(), 127u);
    uint64_t root_off = le(b, 8, 8), root_len = le(b, 16, 8), meta_off = le(b, 24, 8), meta_len = le(b, 32, 8);
    uint64_t data_off = le(b, 56, 8), data_len = le(b, 64, 8);
    EXPECT_EQ(root_off, 127u);
    EXPECT_EQ(le(b, 72, 8), 5u); /* addressed */
    EXPECT_EQ(le(b, 80, 8), 3u); /* entries: world, nw, sea x3 */
    EXPECT_EQ(le(b, 88, 8), 3u); /* contents */
    EXPECT_EQ(data_off + data_len, b.size());
    EXPECT_EQ(b.substr(data_off), "worldnwsea");
    std::vector<PmEntry> e = read_directory(gunzip(b.substr(root_off, root_len)));
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[2].tile_id, 2u);
    EXPECT_EQ(e[2].run, 3u);
    EXPECT_EQ(e[2].offset, 7u);
    std::string meta = gunzip(b.substr(meta_off, meta_len));
    EXPECT_NE(meta.find("\"format\":\"png\""), std::string::npos) << meta;
    EXPECT_NE(meta.find("\"maxzoom\":1"), std::string::npos) << meta;
}

TEST(TileArchives, MbtilesRowsFlippedAndImagesShared)
{
    TempDir dir;
    std::string path = dir.path + "/a.mbtiles";
    std::unique_ptr<ArchiveWriter> w(new_mbtiles_writer());
    ASSERT_EQ(w->begin(path, dir.path + "/scratch"), 0);
    for (uint64_t id = 5; id < 21; id++) {
        int z;
        uint32_t x, y;
        tile_of_id(id, &z, &x, &y);
        ASSERT_EQ(w->add(id, z, x, y, x == 1 && y == 0 ? "special" : "sea"), 0);
    }
    ArchiveInfo info;
    info.name = "t";
    info.minzoom = info.maxzoom = 2;
    info.encoding = "terrarium";
    ASSERT_EQ(w->finish(info), 0);
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    auto one = [db](const char *sql) {
        sqlite3_stmt *s = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &s, nullptr), SQLITE_OK) << sql;
        std::string v = sqlite3_step(s) == SQLITE_ROW && sqlite3_column_text(s, 0)
                            ? reinterpret_cast<const char *>(sqlite3_column_text(s, 0))
                            : "";
        sqlite3_finalize(s);
        return v;
    };
    EXPECT_EQ(one("SELECT count(*) FROM tiles"), "16");
    EXPECT_EQ(one("SELECT count(*) FROM images"), "2");
    /* XYZ row 0 (the north) is TMS row 3. */
    EXPECT_EQ(one("SELECT tile_data FROM tiles WHERE zoom_level=2 AND tile_column=1 AND tile_row=3"), "special");
    EXPECT_EQ(one("SELECT tile_data FROM tiles WHERE zoom_level=2 AND tile_column=1 AND tile_row=0"), "sea");
    EXPECT_EQ(one("SELECT value FROM metadata WHERE name='format'"), "png");
    EXPECT_EQ(one("SELECT value FROM metadata WHERE name='encoding'"), "terrarium");
    EXPECT_EQ(one("SELECT value FROM metadata WHERE name='bounds'"), "-180,-85.05112878,180,85.05112878");
    EXPECT_EQ(one("SELECT count(*) FROM sqlite_master WHERE name='map_index'"), "1");
    sqlite3_close(db);
}

namespace {

struct Recorder : ArchiveWriter {
    std::vector<uint64_t> ids;
    std::vector<std::string> bytes;
    int begin(const std::string &, const std::string &) override { return 0; }
    int add(uint64_t id, int, uint32_t, uint32_t, const std::string &b) override
    {
        ids.push_back(id);
        bytes.push_back(b);
        return 0;
    }
    int finish(const ArchiveInfo &) override { return 0; }
};

}  // namespace

TEST(TileRun, TilesArriveInOrderFromEveryThread)
{
    std::vector<uint64_t> ids = tiles_of_region(0, 4, orvextool::Region());
    std::atomic<int> calls{0};
    DrawTile draw = [&](int z, uint32_t x, uint32_t y, std::string *b) {
        calls++;
        /* Later tiles often finish first. */
        if ((x + y) % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        *b = std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y);
        return 0;
    };
    Recorder r;
    long last = 0;
    ASSERT_EQ(draw_tiles(ids, 4, draw, &r, [&](long done, long total) {
        EXPECT_EQ(done, last + 1);
        EXPECT_EQ(total, 341);
        last = done;
    }), 0);
    EXPECT_EQ(calls.load(), 341);
    EXPECT_EQ(r.ids, ids);
    int z;
    uint32_t x, y;
    tile_of_id(ids[100], &z, &x, &y);
    EXPECT_EQ(r.bytes[100], std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y));
}

TEST(TileRun, AFailingTileStopsTheRunWithItsMessage)
{
    std::vector<uint64_t> ids = tiles_of_region(0, 5, orvextool::Region());
    std::atomic<int> calls{0};
    DrawTile draw = [&](int z, uint32_t, uint32_t, std::string *b) {
        calls++;
        if (z == 3) {
            orvex_register_error(0, "broken tile payload\n");
            return -1;
        }
        *b = "x";
        return 0;
    };
    Recorder r;
    elog_clear_register(0);
    EXPECT_EQ(draw_tiles(ids, 3, draw, &r), -1);
    EXPECT_LT(calls.load(), 1365); /* stopped well before the end */
    EXPECT_LE(r.ids.size(), 21u);  /* nothing of zoom 3 or later written */
    std::string all;
    for (int m = 0; m < elog_count(); m++) all += elog_message(m);
    EXPECT_NE(all.find("broken tile payload"), std::string::npos) << all;
    EXPECT_NE(all.find("cannot draw tile 3/"), std::string::npos) << all;
    elog_clear_register(0);
}

TEST(Terrarium, MetresToBytesAndBack)
{
    auto rgb = [](float m) {
        orvextool::Rgb c = orvexcli::terrarium_rgb(m);
        return std::vector<int>{c.r, c.g, c.b};
    };
    EXPECT_EQ(rgb(0), (std::vector<int>{128, 0, 0}));
    EXPECT_EQ(rgb(-32768), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(rgb(8848), (std::vector<int>{162, 144, 0}));
    EXPECT_EQ(rgb(-10994.5f), (std::vector<int>{85, 13, 128}));
    EXPECT_EQ(rgb(NAN), rgb(0)); /* no data: sea level */
    EXPECT_EQ(rgb(-40000), rgb(-32768));
    EXPECT_EQ(rgb(70000), (std::vector<int>{255, 255, 255}));
    for (float m : {-10994.0f, -1.0f, 0.25f, 1.0f, 1234.5f, 4807.0f, 8848.0f})
        EXPECT_EQ(orvexcli::terrarium_metres(orvexcli::terrarium_rgb(m)), m);
    /* Kept to the nearest 1/256 m. */
    EXPECT_NEAR(orvexcli::terrarium_metres(orvexcli::terrarium_rgb(100.3f)), 100.3, 1.0 / 512);
}

/* Enough distinct tiles that the directory needs leaves, read back by the
 * npm pmtiles package (skipped where node or tests/web's packages are
 * missing). */
TEST(TileArchives, NpmReaderFollowsLeafDirectories)
{
    std::string web = std::string(ORVEX_SOURCE_DIR) + "/tests/web";
    if (system("node --version > /dev/null 2>&1") != 0 || access((web + "/node_modules/pmtiles").c_str(), F_OK) != 0)
        GTEST_SKIP() << "node or tests/web/node_modules missing";
    TempDir dir;
    std::string path = dir.path + "/many.pmtiles";
    std::unique_ptr<ArchiveWriter> w(new_pmtiles_writer());
    ASSERT_EQ(w->begin(path, dir.path + "/scratch"), 0);
    /* Zooms 0-8, every tile its own content but runs of sea between. */
    const uint64_t count = tile_id(9, 0, 0);
    for (uint64_t id = 0; id < count; id++) {
        int z;
        uint32_t x, y;
        tile_of_id(id, &z, &x, &y);
        std::string bytes = id % 7 < 3 ? "sea" : std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y);
        ASSERT_EQ(w->add(id, z, x, y, bytes), 0);
    }
    ArchiveInfo info;
    info.maxzoom = 8;
    ASSERT_EQ(w->finish(info), 0);
    std::string b = slurp(path);
    ASSERT_GT(le(b, 48, 8), 0u) << "no leaf directories";
    std::string cmd = "cd '" + web + "' && node read_pmtiles.mjs '" + path + "' 8/200/17 8/255/255 7/3/100 0/0/0 > '" +
                      dir.path + "/out.json'";
    ASSERT_EQ(system(cmd.c_str()), 0);
    std::string json = slurp(dir.path + "/out.json");
    for (auto t : {std::make_tuple(8, 200u, 17u), std::make_tuple(8, 255u, 255u), std::make_tuple(7, 3u, 100u),
                   std::make_tuple(0, 0u, 0u)}) {
        int z = std::get<0>(t);
        uint32_t x = std::get<1>(t), y = std::get<2>(t);
        uint64_t id = tile_id(z, x, y);
        std::string want = id % 7 < 3 ? "sea" : std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y);
        /* The reader's base64 of the bytes, and its own tile number. */
        static const char b64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string enc;
        for (size_t i = 0; i < want.size(); i += 3) {
            uint32_t v = uint32_t(uint8_t(want[i])) << 16;
            if (i + 1 < want.size()) v |= uint32_t(uint8_t(want[i + 1])) << 8;
            if (i + 2 < want.size()) v |= uint8_t(want[i + 2]);
            enc += b64[(v >> 18) & 63];
            enc += b64[(v >> 12) & 63];
            enc += i + 1 < want.size() ? b64[(v >> 6) & 63] : '=';
            enc += i + 2 < want.size() ? b64[v & 63] : '=';
        }
        std::string key = "\"" + std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y) + "\"";
        EXPECT_NE(json.find(key + ":\"" + enc + "\""), std::string::npos) << key << " " << want << "\n" << json;
        EXPECT_NE(json.find(key + ":" + std::to_string(id)), std::string::npos) << key;
    }
}
