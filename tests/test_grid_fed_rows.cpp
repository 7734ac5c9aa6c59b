// Grid inputs whose rows the caller supplies a band at a time: a build
// from them must write the very file a build from the whole grid writes,
// on one thread or several, while the rows held at once stay one band.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "grid_fixtures.h"
#include "grid_terrain.h"
#include "grid_tile_writer.h"

namespace {

// Copies rows of the reference samples into the fed file when supplied and
// overwrites them with a marker when released, so that a tile reading a
// row it was not given makes a different file.
struct CopyingFeed {
    std::vector<int16_t> samples;
    long cols = 0;
    int fd = -1;
    long held = 0, most_held = 0, supplies = 0, fail_at = 0;
    long rows_supplied = 0;  // over the whole build: the source's rows once for a single pass
    long next_row = 0;  // where the pass stands
    bool out_of_order = false;
    OrvexRowFeed feed{supply, release, this};

    void put(long r0, long r1, bool real)
    {
        std::vector<int16_t> marker(static_cast<size_t>((r1 - r0) * cols), 1234);
        const int16_t *p = real ? &samples[static_cast<size_t>(r0 * cols)] : marker.data();
        size_t bytes = static_cast<size_t>((r1 - r0) * cols) * 2;
        ASSERT_EQ(pwrite(fd, p, bytes, r0 * cols * 2), static_cast<ssize_t>(bytes));
    }
    static int supply(void *arg, long r0, long r1)
    {
        CopyingFeed *f = static_cast<CopyingFeed *>(arg);
        if (++f->supplies == f->fail_at) {
            orvex_register_error(0, "feed: rows %ld to %ld cannot be had\n", r0, r1);
            return -1;
        }
        // Within a pass the rows only move forward; a pass starts anywhere.
        if (r0 < f->next_row && f->held > 0) f->out_of_order = true;
        f->next_row = r1;
        f->rows_supplied += r1 - r0;
        f->put(r0, r1, true);
        f->held += r1 - r0;
        f->most_held = std::max(f->most_held, f->held);
        return 0;
    }
    static void release(void *arg, long r0, long r1)
    {
        CopyingFeed *f = static_cast<CopyingFeed *>(arg);
        f->put(r0, r1, false);
        f->held -= r1 - r0;
    }
};

class GridFedRows : public GridTest {
protected:
    static const long kRows = 60, kCols = 96;

    void SetUp() override
    {
        GridTest::SetUp();
        feed.samples = grid_terrain(kRows, kCols, 7);
        feed.cols = kCols;
        // The map names its source: the whole grid and the fed one are the
        // same file, holding the samples for build_whole only.
        std::vector<int16_t> zeros(static_cast<size_t>(kRows * kCols), 0);
        grid_write_dem(dir.path("g.dem"), zeros, kRows, kCols, 60, -1, -48, 1, false);
        feed.fd = open(dir.path("g.dem").c_str(), O_RDWR);
        ASSERT_GE(feed.fd, 0);
    }
    void TearDown() override
    {
        close(feed.fd);
        GridTest::TearDown();
    }

    // Builds `decls` from the fed grid on `threads` threads; the file, or
    // nothing when the build failed.
    std::vector<uint8_t> build_fed(const char *threads, const std::vector<GridDecl> &decls, int *rc)
    {
        auto in = grid_open(dir.path("g.dem"));
        EXPECT_TRUE(in);
        EXPECT_EQ(in->setRowFeed(&feed.feed), 0);
        std::string path = dir.path("fed" + std::to_string(serial++) + ".orx");
        {
            GridThreads use(threads);
            *rc = grid_build(path, in.get(), decls, false);
        }
        return *rc == 0 ? grid_read_file(path) : std::vector<uint8_t>();
    }

    std::vector<uint8_t> build_whole(const std::vector<GridDecl> &decls)
    {
        feed.put(0, kRows, true);
        auto in = grid_open(dir.path("g.dem"));
        EXPECT_TRUE(in);
        EXPECT_EQ(grid_build(dir.path("whole.orx"), in.get(), decls, false), 0);
        feed.put(0, kRows, false);
        return grid_read_file(dir.path("whole.orx"));
    }

    CopyingFeed feed;
    int serial = 0;
};

// Even and odd factors (windows reaching back across tile rows), tiles
// compressed and raw, a factor that leaves rows out, rows of tiles of
// different heights: one pass down the source for every resolution.
const std::vector<GridDecl> kPyramid = {
    {0, 0, 1, 1, 5, 4}, {0, 0, 2, 0, 3, 2}, {0, 0, 3, 1, 4, 1}, {0, 0, 4, 1, 3, 3}, {0, 0, 7, 1, 2, 1, true},
};

TEST_F(GridFedRows, EveryThreadCountWritesTheFileOfTheWholeGridHoldingOneBand)
{
    std::vector<uint8_t> whole = build_whole(kPyramid);
    for (const char *threads : {"1", "2", "3"}) {
        feed.most_held = feed.supplies = feed.rows_supplied = 0;
        int rc;
        std::vector<uint8_t> fed = build_fed(threads, kPyramid, &rc);
        EXPECT_EQ(rc, 0) << threads;
        EXPECT_TRUE(fed == whole) << threads << " threads";
        EXPECT_EQ(feed.held, 0) << "every row is released at the end";
        EXPECT_FALSE(feed.out_of_order);
        // The tallest band: 15 rows of dec 4 windows reaching 2 back and 3
        // forward (4 * 14 + 5 rows), and the next band's first rows while
        // a worker still holds the last one (two of dec 1 at most).
        EXPECT_LE(feed.most_held, 61) << threads;
        EXPECT_GE(feed.supplies, 5) << "rows come a band at a time";
        EXPECT_EQ(feed.rows_supplied, long{kRows}) << threads << " threads: every row is supplied once for all resolutions";
    }
    // Twelve rows a band at dec 1 (5 rows of 4 tiles): workers run at most
    // one row of tiles ahead of the one being written, although their
    // eight slots would take two rows ahead.
    for (const char *threads : {"1", "2"}) {
        feed.most_held = 0;
        int rc;
        build_fed(threads, {{0, 0, 1, 1, 5, 4}}, &rc);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(feed.most_held, threads[0] == '1' ? 12 : 24);
    }
}

TEST_F(GridFedRows, ASupplyThatFailsStopsTheBuildAsOnOneThread)
{
    std::vector<std::vector<std::string>> messages;
    for (const char *threads : {"1", "2"}) {
        feed.supplies = 0;
        feed.fail_at = 3;
        int rc;
        build_fed(threads, kPyramid, &rc);
        EXPECT_EQ(rc, -1);
        messages.push_back(grid_take_messages());
        EXPECT_EQ(feed.held, 0) << "the rows supplied are released after a failure";
    }
    ASSERT_GE(messages[0].size(), 2u);
    // The third band: rows 20 to 24, asked for by the first tile of the
    // factor 2 whose windows reach one row back.
    EXPECT_EQ(messages[0][0], "feed: rows 20 to 25 cannot be had\n");
    EXPECT_EQ(messages[0][1], "Orvex::writeTileDataGrid: cannot supply rows 20 to 24 of the source.\n");
    EXPECT_EQ(messages[1], messages[0]);
}

TEST_F(GridFedRows, OneTileOnItsOwnIsSuppliedAndReleased)
{
    auto in = grid_open(dir.path("g.dem"));
    ASSERT_TRUE(in);
    ASSERT_EQ(in->setRowFeed(&feed.feed), 0);
    Orvex out;
    ASSERT_EQ(out.setOutput(dir.path("one.orx").c_str()), 0);
    ASSERT_EQ(out.setResolutionHdrGrid(in.get(), 0, 0, 2, 1, 3, 2, "p", "q"), 0);
    // Tile row 1 of 10 samples from row 20, windows one row back and one
    // forward: rows 19 to 39.
    EXPECT_EQ(out.writeTileDataGrid(0, 3, 1, 0), 0);
    EXPECT_EQ(feed.supplies, 1);
    EXPECT_EQ(feed.most_held, 21);
    EXPECT_EQ(feed.held, 0);
}

TEST_F(GridFedRows, OnlyRawGridsOfOneTileTakeAFeed)
{
    auto in = grid_open(dir.path("g.dem"));
    ASSERT_TRUE(in);
    OrvexRowFeed half{CopyingFeed::supply, nullptr, &feed};
    EXPECT_EQ(in->setRowFeed(&half), -1);
    EXPECT_EQ(in->setRowFeed(nullptr), 0);
    EXPECT_EQ(in->rowFeed(), nullptr);
    ASSERT_EQ(grid_build(dir.path("map.orx"), in.get(), {{0, 0, 1, 1, 2, 2}}, false), 0);
    auto map = grid_open(dir.path("map.orx"));
    ASSERT_TRUE(map);
    EXPECT_EQ(map->setRowFeed(&feed.feed), -1);
    Orvex empty;
    EXPECT_EQ(empty.setRowFeed(&feed.feed), -1);
    EXPECT_EQ(grid_take_messages(),
              (std::vector<std::string>{"Orvex::setRowFeed: a feed needs both supply and release.\n",
                                        "Orvex::setRowFeed: not a grid input of one uncompressed tile.\n",
                                        "Orvex::setRowFeed: not a grid input of one uncompressed tile.\n"}));
}

// A tile whose samples exceed half the ring of finished payloads is made by
// the writing thread straight into the file, between tiles the workers
// make: the file is the one-thread file.
TEST_F(GridFedRows, TilesTooLargeForTheRingGoThroughTheWriter)
{
    const long rows = 4800, cols = 7200;  // 69 MB, one raw tile
    std::vector<int16_t> big(static_cast<size_t>(rows * cols));
    for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<int16_t>((i * 2654435761u) >> 20);
    grid_write_dem(dir.path("big.dem"), big, rows, cols, 60, -0.01, -36, 0.01, false);
    big.clear();
    const std::vector<GridDecl> decls = {{0, 0, 4, 1, 3, 3}, {0, 0, 1, 0, 1, 1}, {0, 0, 8, 1, 2, 2}};
    std::vector<std::vector<uint8_t>> files;
    for (const char *threads : {"1", "2"}) {
        auto in = grid_open(dir.path("big.dem"));
        ASSERT_TRUE(in);
        GridThreads use(threads);
        std::string path = dir.path(std::string("big") + threads + ".orx");
        ASSERT_EQ(grid_build(path, in.get(), decls, false), 0);
        files.push_back(grid_read_file(path));
    }
    EXPECT_TRUE(files[0] == files[1]);
}

}  // namespace
