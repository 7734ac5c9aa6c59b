// A build gives back the resident pages of a large source's mapping as it
// finishes each row of output tiles, on one thread and on several, and the
// file it writes is the same byte for byte.

#include <gtest/gtest.h>
#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "grid_fixtures.h"
#include "grid_terrain.h"
#include "grid_tile_writer.h"

namespace {

// Resident kilobytes of the mapping that starts at `start`, from the
// process's own memory map; -1 when it is not found.
long resident_kb(const void *start)
{
    FILE *f = fopen("/proc/self/smaps", "r");
    if (!f) return -1;
    char line[512];
    char want[32];
    snprintf(want, sizeof want, "%lx-", reinterpret_cast<unsigned long>(start));
    bool inside = false;
    long kb = -1;
    while (fgets(line, sizeof line, f)) {
        if (std::string(line).rfind(want, 0) == 0) inside = true;
        else if (inside && sscanf(line, "Rss: %ld kB", &kb) == 1) break;
    }
    fclose(f);
    return kb;
}

class ReleaseAbove {
public:
    explicit ReleaseAbove(long bytes) : old_(orvex_source_release_above) { orvex_source_release_above = bytes; }
    ~ReleaseAbove() { orvex_source_release_above = old_; }

private:
    long old_;
};

TEST_F(GridTest, BuildsGiveBackTheSourcePagesTheyRead)
{
    const long nlat = 600, nlon = 800;  // 960 kB of samples
    std::string src = dir.path("big.dem");
    grid_write_dem(src, grid_terrain(nlat, nlon, 5), nlat, nlon, 60, -0.1, 0, 0.1, false);
    const std::vector<GridDecl> decls = {{0, 0, 1, 1, 3, 2}, {0, 0, 4, 0, 2, 2}};

    std::vector<unsigned char> kept;
    for (const char *threads : {"1", "3"}) {
        GridThreads use(threads);
        for (bool release : {false, true}) {
            ReleaseAbove above(release ? 0 : 1L << 40);
            std::unique_ptr<Orvex> in = grid_open(src);
            ASSERT_TRUE(in);
            std::string out = dir.path(std::string("out") + threads + (release ? "r" : "k") + ".orx");
            ASSERT_EQ(grid_build(out, in.get(), decls, false), 0);
            long kb = resident_kb(in->file_stream);
            ASSERT_GE(kb, 0);
            if (release) {
                EXPECT_LE(kb, 16) << threads << " threads";
            } else {
                EXPECT_GE(kb, 480) << threads << " threads";
            }
            std::vector<unsigned char> bytes = orvex_test::readFile(out);
            if (kept.empty()) kept = bytes;
            EXPECT_EQ(bytes, kept) << threads << " threads, release " << release;
        }
    }
}

}  // namespace
