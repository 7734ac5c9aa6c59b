// Sparse sources: a raw grid whose file holds a few written places and
// holes elsewhere. Tiles whose windows fall in the holes are made without
// reading them, and the file is the one a build of the same grid written
// out in full makes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "grid_fixtures.h"
#include "grid_terrain.h"
#include "grid_tile_writer.h"

namespace {

const long kRows = 200, kCols = 300;

class GridSparse : public GridTest {
protected:
    // The grid: zeros but for two patches (one at the corner), with sea and
    // negative elevations in them; written with holes or in full.
    void write_grid(bool sparse)
    {
        std::vector<int16_t> g(static_cast<size_t>(kRows * kCols), 0);
        std::vector<int16_t> t = grid_terrain(30, 50, 3);
        for (long y = 0; y < 30; y++)
            for (long x = 0; x < 50; x++) {
                g[static_cast<size_t>((y + 90) * kCols + x + 150)] = t[static_cast<size_t>(y * 50 + x)];
                g[static_cast<size_t>(y / 3 * kCols + x / 5)] = static_cast<int16_t>(-3 - x);
            }
        std::string path = dir.path("world.dem");
        grid_write_pf(path, "lat 60\ndlat -0.5\nlon -75\ndlon 0.5\nnlat 200\nnlon 300\n");
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, kRows * kCols * 2), 0);
        for (long y = 0; y < kRows; y++) {
            long x0 = 0, x1 = kCols;
            if (sparse) {  // only the bytes of each row's nonzero samples
                while (x0 < kCols && g[static_cast<size_t>(y * kCols + x0)] == 0) x0++;
                while (x1 > x0 && g[static_cast<size_t>(y * kCols + x1 - 1)] == 0) x1--;
            }
            if (x0 < x1)
                ASSERT_EQ(pwrite(fd, &g[static_cast<size_t>(y * kCols + x0)], static_cast<size_t>(x1 - x0) * 2,
                                 (y * kCols + x0) * 2),
                          (x1 - x0) * 2);
        }
        struct stat st;
        ASSERT_EQ(fstat(fd, &st), 0);
        blocks = st.st_blocks;
        close(fd);
    }

    std::vector<uint8_t> build(const char *threads)
    {
        auto in = grid_open(dir.path("world.dem"));
        EXPECT_TRUE(in);
        std::string path = dir.path("out" + std::to_string(serial++) + ".orx");
        GridThreads use(threads);
        EXPECT_EQ(grid_build(path, in.get(), kDecls, false), 0);
        return grid_read_file(path);
    }

    const std::vector<GridDecl> kDecls = {
        {0, 0, 1, 1, 10, 10}, {0, 0, 2, 0, 5, 5}, {0, 0, 3, 1, 4, 4, true}, {0, 0, 4, 1, 5, 3}, {0, 0, 7, 1, 1, 1, true},
    };
    long blocks = 0;
    int serial = 0;
};

TEST_F(GridSparse, TilesInHolesAreNotReadAndTheFileIsThatOfTheFullGrid)
{
    write_grid(false);
    std::vector<uint8_t> full = build("1");
    long full_blocks = blocks;
    write_grid(true);
    ASSERT_LT(blocks * 4, full_blocks) << "the file system keeps no holes";
    for (const char *threads : {"1", "2"}) {
        long before = orvex_tiles_from_holes;
        std::vector<uint8_t> sparse = build(threads);
        EXPECT_TRUE(sparse == full) << threads << " threads";
        // Half the 100 + 25 + 16 + 15 + 1 tiles lie in holes: the file keeps
        // the zeros around the patches that share their blocks.
        long skipped = orvex_tiles_from_holes - before;
        EXPECT_GT(skipped, 60) << threads;
        EXPECT_LT(skipped, 157) << threads;
    }
}

}  // namespace
