// Refusals and failures of declaring and writing grid resolutions: every
// bad request is refused before anything changes, and every failing
// system call registers the right message.

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "grid_fixtures.h"
#include "grid_terrain.h"

namespace {

const std::string kHdr = "Orvex::setResolutionHdrGrid: ";
const std::string kTile = "Orvex::writeTileDataGrid: ";

class GridFailures : public ::testing::Test {
protected:
    void SetUp() override
    {
        Orvex().cleanCache(0, 1);
        elog_clear_register(0);
        src = dir.path("src.dem");
        grid_write_dem(src, grid_terrain(12, 24, 4), 12, 24, 0, 1, 0, 1, false);
        in = grid_open(src);
        ASSERT_TRUE(in);
    }
    void TearDown() override { elog_clear_register(0); }

    // A new output name.
    std::string fresh()
    {
        return dir.path("out" + std::to_string(serial++) + ".orx");
    }

    GridTempDir dir;
    std::string src;
    std::unique_ptr<Orvex> in;
    int serial = 0;
};

TEST_F(GridFailures, BadDeclarationsAreRefusedBeforeAnythingChanges)
{
    Orvex none;
    EXPECT_EQ(none.setResolutionHdrGrid(in.get(), 0, 0, 1, 1, 1, 1, "", ""), -1);
    EXPECT_EQ(grid_take_messages(),
              std::vector<std::string>{kHdr + "first need to open output file with setOutput()\n"});

    std::string path = fresh();
    Orvex out;
    ASSERT_EQ(out.setOutput(path.c_str()), 0);
    struct {
        int res, tile;
        long dec;
        int nlat_tiles, nlon_tiles;
        std::string message;
    } cases[] = {
        {1, 0, 1, 1, 1, "input resolution out of range"},
        {-1, 0, 1, 1, 1, "input resolution out of range"},
        {0, 1, 1, 1, 1, "input tile out of range"},
        {0, -1, 1, 1, 1, "input tile out of range"},
        {0, 0, 0, 1, 1, "decimation factor 0 must be at least 1"},
        {0, 0, -2, 1, 1, "decimation factor -2 must be at least 1"},
        {0, 0, 1, 0, 1, "nlat_tiles 0 and nlon_tiles 1 must both be at least 1"},
        {0, 0, 1, 1, -3, "nlat_tiles 1 and nlon_tiles -3 must both be at least 1"},
        {0, 0, 5, 1, 1, "decimation factor must be integer multiple of source width"},
        {0, 0, 8, 1, 1, "decimation factor must be integer multiple of source height"},
        {0, 0, 2, 1, 5, "tile factor must be integer multiple of decimated width"},
        {0, 0, 2, 4, 1, "tile factor must be integer multiple of decimated height"},
    };
    for (auto &c : cases) {
        EXPECT_EQ(out.setResolutionHdrGrid(in.get(), c.res, c.tile, c.dec, 1, c.nlat_tiles,
                                           c.nlon_tiles, "n", "r"),
                  -1);
        EXPECT_EQ(grid_take_messages(), std::vector<std::string>{kHdr + c.message + "\n"});
    }
    // A vector input resolution.
    OrvexResolution &s = in->frame.resolutions[0];
    s.map_type = ORVEX_MAP_VECTOR;
    EXPECT_EQ(out.setResolutionHdrGrid(in.get(), 0, 0, 1, 1, 1, 1, "n", "r"), -1);
    s.map_type = ORVEX_MAP_GRID;
    EXPECT_EQ(grid_take_messages(), std::vector<std::string>{kHdr + "input map type must be grid\n"});
    EXPECT_EQ(out.frame.nresolutions, 0);
    EXPECT_EQ(grid_read_file(path).size(), 24u);
    EXPECT_EQ(cntarr(out.src_arr), 0);
}

TEST_F(GridFailures, NamesAreCutToTheirFields)
{
    Orvex out;
    ASSERT_EQ(out.setOutput(fresh().c_str()), 0);
    std::string long_name(200, 'n'), long_text(100, 't');
    ASSERT_EQ(out.setResolutionHdrGrid(in.get(), 0, 0, 1, 1, 1, 1, long_name.c_str(), long_text.c_str()), 0);
    EXPECT_EQ(std::string(out.frame.resolutions[0].name), long_name.substr(0, 127));
    EXPECT_EQ(std::string(out.frame.resolutions[0].resolution), long_text.substr(0, 63));
}

TEST_F(GridFailures, NoDeclarationAfterTileDataOrIntoAnAppendedInput)
{
    std::string path = fresh();
    Orvex out;
    ASSERT_EQ(out.setOutput(path.c_str()), 0);
    ASSERT_EQ(out.setResolutionHdrGrid(in.get(), 0, 0, 1, 1, 1, 1, "a", "b"), 0);
    ASSERT_EQ(out.writeTileDataGrid(0, 0, 1, 0), 0);
    size_t size = grid_read_file(path).size();
    EXPECT_EQ(out.setResolutionHdrGrid(in.get(), 0, 0, 2, 1, 1, 1, "a", "b"), -1);
    std::vector<std::string> m = grid_take_messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].rfind(kHdr + "cannot declare a resolution after tile data", 0), 0u) << m[0];
    EXPECT_EQ(grid_read_file(path).size(), size);
    EXPECT_EQ(out.frame.nresolutions, 1);

    // A finished map opened for appending is its own output, but takes no
    // new declaration: it would overwrite the file's own header.
    Orvex appended;
    ASSERT_EQ(appended.setInput(path.c_str(), 1, nullptr), 0);
    ASSERT_EQ(appended.setOutput(nullptr), 0);
    std::vector<uint8_t> before = grid_read_file(path);
    EXPECT_EQ(appended.setResolutionHdrGrid(in.get(), 0, 0, 1, 1, 1, 1, "a", "b"), -1);
    m = grid_take_messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].rfind(kHdr + "cannot declare resolutions in ", 0), 0u) << m[0];
    // Nor can its tiles be written: no input is registered for them.
    EXPECT_EQ(appended.writeTileDataGrid(0, 0, 1, 0), -1);
    EXPECT_EQ(grid_take_messages(),
              std::vector<std::string>{kTile + "Cannot find input for this output resolution\n"});
    EXPECT_EQ(grid_read_file(path), before);
}

TEST_F(GridFailures, TileWriterPreparationMessages)
{
    Orvex none;
    EXPECT_EQ(none.writeTileDataGrid(0, 0, 1, 0), -1);
    EXPECT_EQ(grid_take_messages(),
              std::vector<std::string>{kTile + "first need to open output file with setOutput()\n"});
    Orvex out;
    ASSERT_EQ(out.setOutput(fresh().c_str()), 0);
    ASSERT_EQ(out.setResolutionHdrGrid(in.get(), 0, 0, 2, 1, 2, 3, "a", "b"), 0);
    EXPECT_EQ(out.writeTileDataGrid(1, 0, 1, 0), -1);
    EXPECT_EQ(out.writeTileDataGrid(0, 6, 1, 0), -1);
    EXPECT_EQ(out.writeTileDataGrid(0, -1, 1, 0), -1);
    EXPECT_EQ(grid_take_messages(),
              (std::vector<std::string>{kTile + "Cannot find input for this output resolution\n",
                                        kTile + "output tile out of range\n",
                                        kTile + "output tile out of range\n"}));
    // A registry entry for a resolution that was never declared.
    ASSERT_EQ(out.setInputArr(in.get(), 0, 0, 4), 0);
    EXPECT_EQ(out.writeTileDataGrid(4, 0, 1, 0), -1);
    EXPECT_EQ(grid_take_messages(), std::vector<std::string>{kTile + "output resolution out of range\n"});
}

TEST_F(GridFailures, WritingTheSameTileTwiceAppendsAndAStaleEntryIsRefused)
{
    std::string path = fresh();
    Orvex out;
    ASSERT_EQ(out.setOutput(path.c_str()), 0);
    ASSERT_EQ(out.setResolutionHdrGrid(in.get(), 0, 0, 1, 0, 1, 1, "a", "b"), 0);
    ASSERT_EQ(out.writeTileDataGrid(0, 0, 1, 0), 0);
    ASSERT_EQ(out.writeTileDataGrid(0, 0, 1, 0), 0);
    std::vector<uint8_t> f = grid_read_file(path);
    long payload = 12 * 24 * 2, first = 16 + 848 + 104 + 32;
    EXPECT_EQ(static_cast<long>(f.size()), first + 2 * payload);
    EXPECT_EQ(grid_long_at(f, 968 + 24), first + payload);  // the entry names the second copy
    EXPECT_EQ(grid_long_at(f, 968 + 16), payload);

    OrvexGridTile &t = static_cast<OrvexGrid *>(out.frame.resolutions[0].data)->tiles[0];
    t.buf = reinterpret_cast<unsigned char *>(1L << 40);
    EXPECT_EQ(out.writeTileDataGrid(0, 0, 1, 0), -1);
    std::vector<std::string> m = grid_take_messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].rfind(kTile + "internal offset error probably caused by repeated attempt to write "
                                 "into same tile.",
                         0),
              0u);
}

TEST_F(GridFailures, WriteDataStopsAtAResolutionThatIsNotAGrid)
{
    Orvex out;
    ASSERT_EQ(out.setOutput(fresh().c_str()), 0);
    ASSERT_EQ(out.setResolutionHdrGrid(in.get(), 0, 0, 1, 1, 1, 2, "a", "b"), 0);
    // Stand in for a vector declaration: a vector record fed by the grid.
    OrvexResolution *grown = static_cast<OrvexResolution *>(
        realloc(out.frame.resolutions, 2 * sizeof(OrvexResolution)));
    ASSERT_NE(grown, nullptr);
    out.frame.resolutions = grown;
    grown[1] = OrvexResolution();
    grown[1].map_type = ORVEX_MAP_VECTOR;
    grown[1].ntiles = 1;
    grown[1].data = calloc(1, sizeof(OrvexVector));
    out.frame.nresolutions = 2;
    ASSERT_EQ(out.setInputArr(in.get(), 0, 0, 1), 0);
    EXPECT_EQ(out.writeDataGrid(1, 0), -1);
    std::vector<std::string> m = grid_take_messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0], kTile + "output map type must be grid\n");
    EXPECT_EQ(m[1].rfind("Orvex::writeData: writeTileDataGrid() error.", 0), 0u);
}

TEST_F(GridFailures, ACompressedSourceTileIsInflatedOnceAndAFullCacheStopsTheBuild)
{
    std::string tiled = fresh();
    ASSERT_EQ(grid_build(tiled, in.get(), {{0, 0, 1, 1, 2, 2}}, false), 0);
    auto map = grid_open(tiled);
    ASSERT_TRUE(map);
    Orvex out;
    ASSERT_EQ(out.setOutput(fresh().c_str()), 0);
    ASSERT_EQ(out.setResolutionHdrGrid(map.get(), 0, 3, 1, 1, 3, 4, "a", "b"), 0);
    ASSERT_EQ(out.writeDataGrid(1, 0), 0);
    EXPECT_EQ(orvex_cache_count(), 1);

    // Fill the cache with 1000 other tiles, then build again.
    std::vector<std::vector<uint8_t>> payloads = {grid_deflate(grid_samples(4, 1))};
    Orvex filler;
    grid_fake_input(&filler, {1000}, 2, 2, true, payloads);
    unsigned char *buf;
    map->cleanCache(0, 0);
    for (int t = 0; t < 1000; t++) ASSERT_EQ(filler.getTileGrid(0, t, &buf), 0);
    Orvex again;
    ASSERT_EQ(again.setOutput(fresh().c_str()), 0);
    ASSERT_EQ(again.setResolutionHdrGrid(map.get(), 0, 3, 1, 1, 1, 1, "a", "b"), 0);
    EXPECT_EQ(again.writeTileDataGrid(0, 0, 1, 0), -1);
    EXPECT_EQ(grid_take_messages(),
              (std::vector<std::string>{"Orvex::getTileGrid: Attempt to exceed max cache dimension.\n",
                                        kTile + "getTileGrid() error\n"}));
}

// Runs `attempt` with the n-th call of one kind failing, for n = 1, 2, ...
// until a run succeeds; every failing run must return -1 and leave a first
// message that is one of `allowed`. Returns the number of failing runs.
template <class Attempt>
int fail_each_call(GridFailingCall::Kind kind, const std::vector<std::string> &allowed, Attempt attempt)
{
    int failures = 0;
    for (long n = 1; n < 10000; n++) {
        int rc;
        bool fired;
        {
            GridFailingCall fail(kind, n);
            rc = attempt();
            fired = GridFailingCall::fired();
        }
        std::vector<std::string> m = grid_take_messages();
        if (!fired) {
            EXPECT_EQ(rc, 0);
            return failures;
        }
        failures++;
        EXPECT_EQ(rc, -1) << "call " << n;
        if (m.empty()) {
            ADD_FAILURE() << "no message for call " << n;
            continue;
        }
        bool known = false;
        for (const std::string &a : allowed) known = known || m[0].rfind(a, 0) == 0;
        EXPECT_TRUE(known) << "call " << n << ": " << m[0];
    }
    return failures;
}

TEST_F(GridFailures, FailingCallsWhileDeclaring)
{
    auto declare_two = [&] {
        Orvex out;
        if (out.setOutput(fresh().c_str()) < 0) return -1;  // setOutput's own calls
        if (out.setResolutionHdrGrid(in.get(), 0, 0, 1, 1, 2, 2, "a", "b") < 0) return -1;
        return out.setResolutionHdrGrid(in.get(), 0, 0, 2, 0, 1, 3, "a", "b");
    };
    // Allocation: resolution list, grid, registry record, tiles (twice).
    int n = fail_each_call(GridFailingCall::kMalloc,
                           {kHdr + "malloc(resolutions) error.", kHdr + "malloc(grid) error.",
                            "Orvex::setInputArr: malloc(OrvexInput) error.",
                            kHdr + "malloc(tiles) error."},
                           declare_two);
    EXPECT_EQ(n, 7);
    EXPECT_EQ(fail_each_call(GridFailingCall::kRealloc, {kHdr + "realloc(resolutions) error."}, declare_two), 1);
    EXPECT_GT(fail_each_call(GridFailingCall::kWrite,
                             {kHdr + "write() error.", "Orvex::setOutput: write() error"}, declare_two),
              4);
    EXPECT_GT(fail_each_call(GridFailingCall::kLseek,
                             {kHdr + "lseek() error.", "Orvex::setOutput: lseek() error"}, declare_two),
              4);
}

TEST_F(GridFailures, FailingCallsWhileWritingTiles)
{
    // The tile writer's own calls, with the declaration done beforehand, on
    // one thread and on several. A parallel build whose own bookkeeping
    // cannot be allocated writes the tiles one by one instead, so a failing
    // allocation may also end in success.
    for (const char *threads : {"1", "3"}) {
        GridThreads use(threads);
        for (int compressed = 0; compressed < 2; compressed++) {
            for (GridFailingCall::Kind kind : {GridFailingCall::kWrite, GridFailingCall::kLseek,
                                               GridFailingCall::kMalloc, GridFailingCall::kRealloc}) {
                int failures = 0;
                for (long n = 1; n < 1000; n++) {
                    Orvex out;
                    ASSERT_EQ(out.setOutput(fresh().c_str()), 0);
                    ASSERT_EQ(out.setResolutionHdrGrid(in.get(), 0, 0, 1, compressed, 2, 2, "a", "b"), 0);
                    int rc;
                    bool fired;
                    {
                        GridFailingCall fail(kind, n);
                        rc = out.writeDataGrid(1, 0);
                        fired = GridFailingCall::fired();
                    }
                    std::vector<std::string> m = grid_take_messages();
                    if (!fired) {
                        EXPECT_EQ(rc, 0);
                        break;
                    }
                    bool recovered = kind == GridFailingCall::kRealloc ||
                                     (kind == GridFailingCall::kMalloc && threads[0] != '1');
                    if (rc == 0 && recovered) {
                        EXPECT_TRUE(m.empty());
                        continue;
                    }
                    failures++;
                    EXPECT_EQ(rc, -1) << threads << " threads, call " << n;
                    ASSERT_EQ(m.size(), 2u) << threads << " threads, call " << n;
                    // Allocations: the window tables, and with libdeflate the
                    // buffer a tile is gathered in and deflated into.
                    const char *expected = kind == GridFailingCall::kWrite   ? "write() error.: "
                                           : kind == GridFailingCall::kLseek ? "lseek() error.: "
                                                                             : "malloc(window tables) error.: ";
                    bool deflate_buffer = kind == GridFailingCall::kMalloc && compressed &&
                                          m[0].rfind(kTile + "malloc(deflate buffer) error.: ", 0) == 0;
                    EXPECT_TRUE(deflate_buffer || m[0].rfind(kTile + expected, 0) == 0) << m[0];
                    EXPECT_EQ(m[1].rfind("Orvex::writeData: writeTileDataGrid() error.: ", 0), 0u);
                }
                if (kind != GridFailingCall::kRealloc) {
                    EXPECT_GT(failures, 0);
                }
            }
        }
    }
}

}  // namespace
