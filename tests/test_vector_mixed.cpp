// A map file holding grid and vector resolutions, written tile by tile with
// the two tile writers, reads back whole: grid tiles equal to those of a
// grid-only build, shorelines equal to those of a vector-only build.
// writeData makes the same file on any number of threads.

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "OrvexInternal.h"
#include "grid_fixtures.h"
#include "grid_terrain.h"
#include "gshhs_files.h"
#include "vector_build.h"
#include "vector_fixtures.h"

namespace {

std::vector<GshhsPolygon> shores()
{
    return {gshhs_polygon(0, 1, {{179.5, 10}, {-179.5, 10}, {-179.5, 11}, {179.5, 10}}),
            gshhs_polygon(1, 2, {{1, 2}, {3, 4}, {5, 2}, {1, 2}})};
}

// Declares grid 0 (two tiles), vector 1 and grid 2 (decimated), or only
// the vector or only the grids.
int declare(Orvex &out, Orvex &dem, Orvex &shore, bool grids, bool vector)
{
    if (grids && out.setResolutionHdrGrid(&dem, 0, 0, 1, 1, 1, 2, "dem", "fine") < 0) return -1;
    if (vector) {
        testing::internal::CaptureStdout();
        int rc = out.setResolutionHdrVector(&shore, 0, 0, 1, 1, -1, 1, 0, "coast", "coast");
        testing::internal::GetCapturedStdout();
        if (rc < 0) return -1;
    }
    if (grids && out.setResolutionHdrGrid(&dem, 0, 0, 2, 0, 1, 1, "dem", "coarse") < 0) return -1;
    return 0;
}

// Writes every tile with the writer of its resolution's kind.
int write_tile_by_tile(Orvex &out)
{
    testing::internal::CaptureStdout();
    int rc = 0;
    for (int r = 0; r < out.frame.nresolutions && rc == 0; r++)
        for (int t = 0; t < out.frame.resolutions[r].ntiles && rc == 0; t++)
            rc = out.frame.resolutions[r].map_type == ORVEX_MAP_GRID
                     ? out.writeTileDataGrid(r, t, 1.0, 0.0)
                     : out.writeTileDataVector(r, t);
    testing::internal::GetCapturedStdout();
    return rc;
}

std::vector<uint8_t> tile_bytes(Orvex &map, int r, int t)
{
    unsigned char *p = nullptr;
    EXPECT_EQ(map.getTileGrid(r, t, &p), 0);
    const OrvexGrid *g = static_cast<const OrvexGrid *>(map.frame.resolutions[r].data);
    size_t n = static_cast<size_t>(g->nlat_per_tile * g->nlon_per_tile * 2);
    return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
}

std::vector<uint8_t> points_of(const OrvexVectorSegment &s)
{
    const uint8_t *p = reinterpret_cast<const uint8_t *>(s.pts);
    return std::vector<uint8_t>(p, p + 8 * s.npts);
}

TEST(VectorMixedBuild, GridAndVectorResolutionsReadBackWhole)
{
    VectorTempDir dir;
    std::string dem_path = dir.path("land.dem");
    grid_write_dem(dem_path, grid_terrain(8, 16, 3), 8, 16, -10, 1.25, 30, 0.5, false);
    std::string shore_path = dir.write("shore.gshhs", gshhs_file_bytes(shores(), GshhsLayout::New44));

    // Each build purges its own copy of the shorelines.
    Orvex dem, shore_mixed, shore_alone;
    ASSERT_EQ(dem.setInput(dem_path.c_str(), 0, nullptr), 0);
    ASSERT_EQ(shore_mixed.setInput(shore_path.c_str(), 0, nullptr), 0);
    ASSERT_EQ(shore_alone.setInput(shore_path.c_str(), 0, nullptr), 0);

    std::string mixed = dir.path("mixed.orx"), grids = dir.path("grids.orx"),
                vector = dir.path("vector.orx");
    {
        Orvex out;
        ASSERT_EQ(out.setOutput(mixed.c_str()), 0);
        ASSERT_EQ(declare(out, dem, shore_mixed, true, true), 0);
        // The vector walker stops at the grid resolution standing first.
        elog_clear_register(0);
        testing::internal::CaptureStdout();
        EXPECT_EQ(out.writeDataVector(), -1);
        testing::internal::GetCapturedStdout();
        std::vector<std::string> m = vector_take_messages();
        ASSERT_EQ(m.size(), 2u);
        EXPECT_EQ(m[0], "Orvex::writeTileDataVector: output map type must be vector\n");
        ASSERT_EQ(write_tile_by_tile(out), 0);
    }
    {
        Orvex out;
        ASSERT_EQ(out.setOutput(grids.c_str()), 0);
        ASSERT_EQ(declare(out, dem, shore_alone, true, false), 0);
        ASSERT_EQ(write_tile_by_tile(out), 0);
    }
    {
        Orvex out;
        ASSERT_EQ(out.setOutput(vector.c_str()), 0);
        ASSERT_EQ(declare(out, dem, shore_alone, false, true), 0);
        ASSERT_EQ(write_tile_by_tile(out), 0);
    }

    Orvex m, g, v;
    ASSERT_EQ(m.setInput(mixed.c_str(), 0, nullptr), 0) << testing::PrintToString(vector_take_messages());
    ASSERT_EQ(g.setInput(grids.c_str(), 0, nullptr), 0);
    ASSERT_EQ(v.setInput(vector.c_str(), 0, nullptr), 0);
    ASSERT_EQ(m.frame.nresolutions, 3);
    EXPECT_EQ(m.frame.resolutions[0].map_type, ORVEX_MAP_GRID);
    EXPECT_EQ(m.frame.resolutions[1].map_type, ORVEX_MAP_VECTOR);
    EXPECT_EQ(m.frame.resolutions[2].map_type, ORVEX_MAP_GRID);
    EXPECT_STREQ(m.frame.resolutions[2].resolution, "coarse");

    EXPECT_EQ(tile_bytes(m, 0, 0), tile_bytes(g, 0, 0));
    EXPECT_EQ(tile_bytes(m, 0, 1), tile_bytes(g, 0, 1));
    EXPECT_EQ(tile_bytes(m, 2, 0), tile_bytes(g, 1, 0));
    EXPECT_FALSE(tile_bytes(m, 0, 1).empty());

    const OrvexVectorTile &mt = static_cast<OrvexVector *>(m.frame.resolutions[1].data)->tiles[0];
    const OrvexVectorTile &vt = static_cast<OrvexVector *>(v.frame.resolutions[0].data)->tiles[0];
    ASSERT_EQ(mt.nsegments, 2);
    ASSERT_EQ(vt.nsegments, 2);
    for (int s = 0; s < 2; s++) {
        EXPECT_EQ(mt.segments[s].npts, vt.segments[s].npts);
        EXPECT_EQ(points_of(mt.segments[s]), points_of(vt.segments[s]));
    }
    // Little-endian and unwrapped across the meridian.
    int lon;
    memcpy(&lon, reinterpret_cast<const uint8_t *>(mt.segments[0].pts) + 8, 4);
    EXPECT_EQ(lon, 180500000);
}

struct Counted {
    long calls = 0, last = 0, total = 0;
    bool in_order = true;
};

void count_progress(void *arg, long done, long total)
{
    Counted *c = static_cast<Counted *>(arg);
    c->in_order = c->in_order && done == c->last + 1;
    c->calls++;
    c->last = done;
    c->total = total;
}

// writeData on 1, 2 and 5 threads writes the file the two tile writers make
// tile by tile, reports every tile in order and trims the cache as asked.
TEST(VectorMixedBuild, WriteDataMakesTheTileByTileFileOnAnyThreads)
{
    VectorTempDir dir;
    std::string dem_path = dir.path("land.dem");
    grid_write_dem(dem_path, grid_terrain(24, 48, 5), 24, 48, -10, 1.25, 30, 0.5, false);
    std::string shore_path = dir.write("shore.gshhs", gshhs_file_bytes(shores(), GshhsLayout::New44));
    std::string reference = dir.path("ref.orx");
    {
        Orvex dem, shore, out;
        ASSERT_EQ(dem.setInput(dem_path.c_str(), 0, nullptr), 0);
        ASSERT_EQ(shore.setInput(shore_path.c_str(), 0, nullptr), 0);
        ASSERT_EQ(out.setOutput(reference.c_str()), 0);
        ASSERT_EQ(declare(out, dem, shore, true, true), 0);
        ASSERT_EQ(write_tile_by_tile(out), 0);
    }
    std::vector<uint8_t> want = grid_read_file(reference);
    for (const char *threads : {"1", "2", "5"}) {
        SCOPED_TRACE(std::string(threads) + " threads");
        GridThreads use(threads);
        std::string path = dir.path(std::string("w") + threads + ".orx");
        Orvex dem, shore, out;
        ASSERT_EQ(dem.setInput(dem_path.c_str(), 0, nullptr), 0);
        ASSERT_EQ(shore.setInput(shore_path.c_str(), 0, nullptr), 0);
        ASSERT_EQ(out.setOutput(path.c_str()), 0);
        ASSERT_EQ(declare(out, dem, shore, true, true), 0);
        Counted counted;
        OrvexWriteOptions options;
        options.progress = count_progress;
        options.progress_arg = &counted;
        options.cache_budget = 0;
        testing::internal::CaptureStdout();
        int rc = out.writeData(options);
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(rc, 0) << testing::PrintToString(vector_take_messages());
        EXPECT_EQ(counted.calls, 4);
        EXPECT_EQ(counted.total, 4);
        EXPECT_TRUE(counted.in_order);
        EXPECT_EQ(grid_read_file(path), want);
    }
}

// A failing vector tile is named as such; tiles after it are not written.
TEST(VectorMixedBuild, WriteDataNamesTheWriterOfTheFailingTile)
{
    VectorTempDir dir;
    std::string dem_path = dir.path("land.dem");
    grid_write_dem(dem_path, grid_terrain(8, 16, 3), 8, 16, -10, 1.25, 30, 0.5, false);
    std::string shore_path = dir.write("shore.gshhs", gshhs_file_bytes(shores(), GshhsLayout::New44));
    for (const char *threads : {"1", "3"}) {
        SCOPED_TRACE(std::string(threads) + " threads");
        GridThreads use(threads);
        Orvex dem, shore, out;
        ASSERT_EQ(dem.setInput(dem_path.c_str(), 0, nullptr), 0);
        ASSERT_EQ(shore.setInput(shore_path.c_str(), 0, nullptr), 0);
        ASSERT_EQ(out.setOutput(dir.path(std::string("f") + threads + ".orx").c_str()), 0);
        ASSERT_EQ(declare(out, dem, shore, true, true), 0);
        // The vector's input is gone: its tile fails where its turn comes.
        Tbl *list = static_cast<Tbl *>(getarr(out.src_arr, "1"));
        ASSERT_TRUE(list);
        static_cast<OrvexInput *>(gettbl(list, 0))->resolution = 7;
        elog_clear_register(0);
        Counted counted;
        OrvexWriteOptions options;
        options.progress = count_progress;
        options.progress_arg = &counted;
        testing::internal::CaptureStdout();
        EXPECT_EQ(out.writeData(options), -1);
        testing::internal::GetCapturedStdout();
        std::vector<std::string> m = vector_take_messages();
        ASSERT_GE(m.size(), 2u);
        EXPECT_EQ(m.back().rfind("Orvex::writeData: writeTileDataVector() error.", 0), 0u) << m.back();
        EXPECT_EQ(counted.last, 2);  // both grid tiles before it
    }
}

}  // namespace
