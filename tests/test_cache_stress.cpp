// The shared tile cache under load: threads reading, inflating and trimming
// at once over real map files of many small tiles, every value checked
// against the same look-ups made on one thread. Built with ORVEX_TSAN, this
// is the cache's thread check.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "grid_fixtures.h"
#include "grid_terrain.h"

namespace {

class CacheStress : public ::testing::Test {
protected:
    void SetUp() override
    {
        Orvex().cleanCache(0, 1);
        elog_clear_register(0);
    }
    void TearDown() override { elog_clear_register(0); }

    // A compressed map of nlat_tiles x nlon_tiles tiles over a terrain grid.
    std::string map(const std::string &name, long nlat, long nlon, int nlat_tiles, int nlon_tiles)
    {
        std::string src = dir.path(name + ".dem"), out = dir.path(name + ".orx");
        grid_write_dem(src, grid_terrain(nlat, nlon, 17), nlat, nlon, 90, -180.0 / nlat, -180, 360.0 / nlon,
                       false);
        auto in = grid_open(src);
        EXPECT_TRUE(in);
        EXPECT_EQ(grid_build(out, in.get(), {{0, 0, 1, 1, nlat_tiles, nlon_tiles}}, false), 0);
        return out;
    }
    GridTempDir dir;
};

// One thread's work: `count` look-ups of tiles drawn from its own sequence,
// each giving the sum of the tile's samples; trimming its object's entries
// every 64 look-ups when `trims`.
struct Worker {
    Orvex *map;
    unsigned salt;
    long count;
    bool trims;
    std::vector<long> sums;
    long failures = 0;

    void run()
    {
        const OrvexResolution &r = map->frame.resolutions[0];
        size_t bytes = orvex_grid_tile_bytes(static_cast<const OrvexGrid *>(r.data));
        unsigned x = salt;
        sums.clear();
        for (long i = 0; i < count; i++) {
            x = x * 1103515245u + 12345u;
            int tile = static_cast<int>((x >> 8) % static_cast<unsigned>(r.ntiles));
            unsigned char *p;
            if (map->getTileGrid(0, tile, &p) < 0) {
                failures++;
                continue;
            }
            long sum = 0;
            for (size_t k = 0; k + 1 < bytes; k += 2) sum += static_cast<int16_t>(p[k] | p[k + 1] << 8);
            sums.push_back(sum);
            if (trims && i % 64 == 63) {
                if (i % 128 == 63)
                    map->cleanCacheEntries(100, 0);
                else
                    map->cleanCache(static_cast<long>(50 * bytes), 0);
            }
        }
        if (trims) map->cleanCache(0, 0);
    }
};

TEST_F(CacheStress, ThreadsReadingInflatingAndTrimmingAgreeWithOneThread)
{
    // A: 300 tiles shared by two readers, never trimmed while they read.
    // B: 2000 tiles, one object per trimming thread.
    std::string a_path = map("a", 12, 400, 3, 100), b_path = map("b", 8, 4000, 1, 2000);
    auto a = grid_open(a_path);
    ASSERT_TRUE(a);
    std::vector<std::unique_ptr<Orvex>> bs;
    for (int i = 0; i < 3; i++) {
        bs.push_back(grid_open(b_path));
        ASSERT_TRUE(bs.back());
    }
    std::vector<Worker> workers;
    for (unsigned i = 0; i < 2; i++) workers.push_back({a.get(), 11 + i, 20000, false, {}});
    for (unsigned i = 0; i < 3; i++) workers.push_back({bs[i].get(), 21 + i, 20000, true, {}});

    std::vector<std::vector<long>> expected;
    for (Worker &w : workers) {
        w.run();
        expected.push_back(w.sums);
        a->cleanCache(0, 1);
    }
    std::vector<std::thread> threads;
    for (Worker &w : workers) threads.emplace_back([&w] { w.run(); });
    for (std::thread &t : threads) t.join();
    for (size_t i = 0; i < workers.size(); i++) {
        EXPECT_EQ(workers[i].failures, 0) << i;
        EXPECT_TRUE(workers[i].sums == expected[i]) << "worker " << i;
    }
    // The readers raced for the same misses: each of A's tiles entered once.
    EXPECT_EQ(orvex_cache_count(), 300);
    EXPECT_EQ(orvex_cache_bytes(), 300u * 4 * 4 * 2);
}

}  // namespace
