// Building grid tiles on several threads: whatever fails part way, the
// file, its final position, the error register and the tile cache end as
// a build on one thread leaves them.

#include <errno.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "grid_fixtures.h"
#include "grid_terrain.h"
#include "grid_tile_writer.h"

namespace {

struct Result {
    int rc = 0;
    bool fired = false;
    std::vector<std::string> messages;
    std::vector<uint8_t> file;
    long position = -1;
    int cached = 0;
};

class GridParallel : public GridTest {
protected:

    // Declares `decls` from `input` in a new file and writes every tile on
    // `threads` threads, the nth call of `kind` failing when nth > 0.
    Result build(const char *threads, Orvex *input, const std::vector<GridDecl> &decls,
                 GridFailingCall::Kind kind = GridFailingCall::kWrite, long nth = 0)
    {
        Result r;
        std::string path = dir.path("out" + std::to_string(serial++) + ".orx");
        {
            GridThreads use(threads);
            Orvex out;
            EXPECT_EQ(out.setOutput(path.c_str()), 0);
            for (const GridDecl &d : decls)
                EXPECT_EQ(out.setResolutionHdrGrid(input, d.input_resolution, d.input_tile, d.dec,
                                                   d.compressed, d.nlat_tiles, d.nlon_tiles, "p", "q"),
                          0);
            int cached_before = orvex_cache_count();
            errno = 0;
            {
                std::unique_ptr<GridFailingCall> fail;
                if (nth > 0) fail.reset(new GridFailingCall(kind, nth));
                r.rc = out.writeDataGrid(1, 0);
                r.fired = nth > 0 && GridFailingCall::fired();
            }
            r.messages = grid_take_messages();
            r.position = orvex_tell(out.fd);
            r.cached = orvex_cache_count() - cached_before;
        }  // every object's destructor empties the cache
        r.file = grid_read_file(path);
        return r;
    }

    // A compressed map of 1 x 4 tiles, each 24 x 24 elevations.
    std::string tiled_map()
    {
        std::string src = dir.path("m.dem"), map_path = dir.path("m.orx");
        grid_write_dem(src, grid_terrain(24, 96, 4), 24, 96, 0, 1, 0, 1, false);
        auto raw = grid_open(src);
        EXPECT_TRUE(raw);
        EXPECT_EQ(grid_build(map_path, raw.get(), {{0, 0, 1, 1, 1, 4}}, false), 0);
        return map_path;
    }

    int serial = 0;
};

void expect_same(const Result &one, const Result &many)
{
    EXPECT_EQ(many.rc, one.rc);
    EXPECT_EQ(many.fired, one.fired);
    EXPECT_EQ(many.messages, one.messages);
    EXPECT_TRUE(many.file == one.file) << "sizes " << many.file.size() << " and " << one.file.size();
    EXPECT_EQ(many.position, one.position);
    EXPECT_EQ(many.cached, one.cached);
}

// Every resolution reads another tile of the map: a write or seek failing
// anywhere stops the build with the same file and register, and with no
// source tile in the cache that one thread would not have read.
TEST_F(GridParallel, AWriteOrSeekFailingAnywhereEndsAsOnOneThread)
{
    auto map = grid_open(tiled_map());
    ASSERT_TRUE(map);
    // Fourteen tiles, compressed and not.
    const std::vector<GridDecl> decls = {{0, 0, 2, 1, 2, 3}, {0, 1, 1, 0, 2, 2}, {0, 3, 3, 1, 1, 1},
                                         {0, 2, 1, 1, 1, 3}};
    for (GridFailingCall::Kind kind : {GridFailingCall::kWrite, GridFailingCall::kLseek}) {
        long n = 1;
        for (;; n++) {
            SCOPED_TRACE("call " + std::to_string(n));
            Result one = build("1", map.get(), decls, kind, n);
            Result many = build("4", map.get(), decls, kind, n);
            expect_same(one, many);
            if (!one.fired) {
                EXPECT_EQ(many.rc, 0);
                EXPECT_EQ(many.position, static_cast<long>(many.file.size()));
                EXPECT_EQ(many.cached, 4);
                break;
            }
            ASSERT_EQ(one.rc, -1);
            ASSERT_EQ(one.messages.size(), 2u);
        }
        EXPECT_GT(n, 14 * 4);  // every tile's writes were failed in turn
    }
}

// The third resolution's source tile cannot be had. The build stops there,
// and the cache holds the source tiles of the first two only.
TEST_F(GridParallel, ASourceTileThatCannotBeHadStopsTheBuildWhereOneThreadStops)
{
    auto map = grid_open(tiled_map());
    ASSERT_TRUE(map);
    const std::vector<GridDecl> decls = {
        {0, 0, 1, 1, 3, 4}, {0, 1, 2, 1, 2, 3}, {0, 2, 1, 1, 1, 1}, {0, 3, 1, 1, 2, 2}};
    const std::string tile = "Orvex::writeTileDataGrid: getTileGrid() error\n";
    const std::string data = "Orvex::writeData: writeTileDataGrid() error.: Success\n";

    // A damaged payload: it cannot be inflated.
    OrvexGridTile &third = static_cast<OrvexGrid *>(map->frame.resolutions[0].data)->tiles[2];
    unsigned long whole = third.nbuf;
    third.nbuf = 5;
    Result one = build("1", map.get(), decls), many = build("3", map.get(), decls);
    EXPECT_EQ(one.messages, (std::vector<std::string>{"Orvex::getTileGrid: inflate() error.\n", tile, data}));
    EXPECT_EQ(one.cached, 2);
    expect_same(one, many);
    third.nbuf = whole;

    // A full cache: 998 tiles of another object leave room for two.
    std::vector<std::vector<uint8_t>> payloads = {grid_deflate(grid_samples(4, 1))};
    Orvex filler;
    grid_fake_input(&filler, {998}, 2, 2, true, payloads);
    auto fill = [&] {
        unsigned char *buf;
        for (int t = 0; t < 998; t++) ASSERT_EQ(filler.getTileGrid(0, t, &buf), 0);
    };
    fill();
    one = build("1", map.get(), decls);
    fill();
    many = build("3", map.get(), decls);
    EXPECT_EQ(one.messages,
              (std::vector<std::string>{"Orvex::getTileGrid: Attempt to exceed max cache dimension.\n", tile,
                                        data}));
    EXPECT_EQ(one.cached, 2);
    expect_same(one, many);
}

TEST_F(GridParallel, ThreadCountFromTheEnvironment)
{
    std::string src = dir.path("c.dem");
    grid_write_dem(src, grid_terrain(12, 24, 2), 12, 24, 0, 1, 0, 1, false);
    auto in = grid_open(src);
    ASSERT_TRUE(in);
    Orvex out;
    ASSERT_EQ(out.setOutput(dir.path("c.orx").c_str()), 0);
    ASSERT_EQ(out.setResolutionHdrGrid(in.get(), 0, 0, 1, 1, 2, 3, "a", "b"), 0);  // 6 tiles
    int hardware;
    {
        GridThreads use(nullptr);
        hardware = orvex_grid_worker_count(&out);
    }
    EXPECT_GE(hardware, 1);
    EXPECT_LE(hardware, 6);
    const struct {
        const char *value;
        int count;
    } cases[] = {{"1", 1}, {"3", 3}, {"40", 6}, {"0", hardware}, {"-2", hardware},
                 {"2x", hardware}, {"", hardware}};
    for (const auto &c : cases) {
        GridThreads use(c.value);
        EXPECT_EQ(orvex_grid_worker_count(&out), c.count) << '"' << c.value << '"';
    }
}

}  // namespace
