// The tile cache under a byte budget: least recently used tiles go first,
// held tiles never go, the table grows past 1000 entries, failures leave
// the cache as it was, and threads reading tiles larger than the budget
// inflate each tile once. Inflations are counted, never timed.

#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <stdint.h>
#include <thread>
#include <vector>

#include "grid_fixtures.h"

namespace {

class TileCacheBudget : public ::testing::Test {
protected:
    void SetUp() override
    {
        orvex_cache_set_budget(0);
        Orvex().cleanCache(0, 1);
        elog_clear_register(0);
    }
    void TearDown() override
    {
        orvex_cache_set_budget(0);
        Orvex().cleanCache(0, 1);
        elog_clear_register(0);
    }
};

// n compressed tiles of rows x cols elevations; every sample of tile t is t.
std::vector<std::vector<uint8_t>> tiles(long n, long rows = 10, long cols = 5)
{
    std::vector<std::vector<uint8_t>> p;
    for (long t = 0; t < n; t++) p.push_back(grid_deflate(grid_samples(rows * cols, static_cast<int16_t>(t))));
    return p;
}

// A budget of `tiles` tiles of `bytes` bytes, with their entries' bookkeeping.
size_t room(long tiles, size_t bytes = 100)
{
    return static_cast<size_t>(tiles) * (bytes + orvex_cache_entry_bytes());
}

int16_t sample_at(const unsigned char *buf, long k)
{
    int16_t v;
    memcpy(&v, buf + 2 * k, 2);
    return v;
}

// Inflations made by `f`.
template <class F>
unsigned long inflations_of(F f)
{
    unsigned long before = orvex_cache_inflations();
    f();
    return orvex_cache_inflations() - before;
}

TEST_F(TileCacheBudget, TheLeastRecentlyUsedTileGoesFirst)
{
    auto p = tiles(8);
    Orvex o;
    grid_fake_input(&o, {8}, 10, 5, true, p);
    ASSERT_EQ(orvex_cache_set_budget(room(3)), 0);
    EXPECT_EQ(orvex_cache_budget(), room(3));
    unsigned char *out;
    for (int t : {0, 1, 2, 0}) ASSERT_EQ(o.getTileGrid(0, t, &out), 0);
    EXPECT_EQ(inflations_of([&] { ASSERT_EQ(o.getTileGrid(0, 3, &out), 0); }), 1u);  // 1 goes
    EXPECT_EQ(orvex_cache_count(), 3);
    EXPECT_EQ(orvex_cache_bytes(), 300u);
    EXPECT_EQ(inflations_of([&] {
                  for (int t : {0, 2}) ASSERT_EQ(o.getTileGrid(0, t, &out), 0);
              }),
              0u);
    // Used last: 3, 0, 2; tile 1 comes back in place of 3.
    EXPECT_EQ(inflations_of([&] { ASSERT_EQ(o.getTileGrid(0, 1, &out), 0); }), 1u);
    EXPECT_EQ(sample_at(out, 49), 1);
    EXPECT_EQ(inflations_of([&] {
                  for (int t : {0, 2, 1}) ASSERT_EQ(o.getTileGrid(0, t, &out), 0);
              }),
              0u);
    // A smaller budget evicts at once, least recently used first.
    ASSERT_EQ(orvex_cache_set_budget(room(1)), 0);
    EXPECT_EQ(orvex_cache_count(), 1);
    EXPECT_EQ(inflations_of([&] { ASSERT_EQ(o.getTileGrid(0, 1, &out), 0); }), 0u);
}

TEST_F(TileCacheBudget, HeldTilesAreNeverEvicted)
{
    auto p = tiles(8);
    Orvex o;
    grid_fake_input(&o, {8}, 10, 5, true, p);
    ASSERT_EQ(orvex_cache_set_budget(room(2)), 0);
    unsigned char *held0, *held1, *out;
    ASSERT_EQ(o.holdTileGrid(0, 0, &held0), 0);
    ASSERT_EQ(o.holdTileGrid(0, 0, &out), 0);  // holds are counted
    EXPECT_EQ(out, held0);
    for (int t = 2; t < 6; t++) ASSERT_EQ(o.getTileGrid(0, t, &out), 0);
    EXPECT_EQ(sample_at(held0, 0), 0);
    EXPECT_EQ(inflations_of([&] { ASSERT_EQ(o.getTileGrid(0, 0, &out), 0); }), 0u);
    // Held tiles beyond the budget: the request still succeeds.
    ASSERT_EQ(o.holdTileGrid(0, 1, &held1), 0);
    ASSERT_EQ(o.getTileGrid(0, 6, &out), 0);
    EXPECT_EQ(orvex_cache_bytes(), 300u);
    // Trimming passes over held tiles too.
    o.cleanCache(0, 1);
    EXPECT_EQ(orvex_cache_count(), 2);
    EXPECT_EQ(sample_at(held1, 49), 1);
    // Released once of twice: still held.
    o.releaseTileGrid(0, 0);
    ASSERT_EQ(o.getTileGrid(0, 7, &out), 0);
    EXPECT_EQ(orvex_cache_bytes(), 300u);
    EXPECT_EQ(sample_at(held0, 49), 0);
    // The last release shrinks the cache back, sparing the tile released.
    o.releaseTileGrid(0, 0);
    EXPECT_EQ(orvex_cache_bytes(), 200u);
    EXPECT_EQ(inflations_of([&] { ASSERT_EQ(o.getTileGrid(0, 0, &out), 0); }), 0u);
    o.releaseTileGrid(0, 1);
    o.releaseTileGrid(0, 1);  // not held any more: nothing happens
    o.releaseTileGrid(0, 5);  // not cached
    o.releaseTileGrid(3, 0);  // no such resolution
    o.cleanCache(0, 1);
    EXPECT_EQ(orvex_cache_count(), 0);
}

TEST_F(TileCacheBudget, UncompressedTilesNeedNoHold)
{
    std::vector<std::vector<uint8_t>> payloads = {grid_samples(50, 4)};
    const std::vector<uint8_t> &p = payloads[0];
    Orvex o;
    grid_fake_input(&o, {2}, 10, 5, false, payloads);
    ASSERT_EQ(orvex_cache_set_budget(1), 0);
    unsigned char *out;
    ASSERT_EQ(o.holdTileGrid(0, 1, &out), 0);
    EXPECT_EQ(out, p.data());
    o.releaseTileGrid(0, 1);
    EXPECT_EQ(orvex_cache_count(), 0);
    EXPECT_EQ(o.holdTileGrid(0, 2, &out), -1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(grid_take_messages(), std::vector<std::string>{"Orvex::holdTileGrid: tile out of range\n"});
}

TEST_F(TileCacheBudget, TheTableGrowsPastAThousandEntries)
{
    const long n = 2600;
    auto p = tiles(n);
    Orvex o;
    grid_fake_input(&o, {n}, 10, 5, true, p);
    ASSERT_EQ(orvex_cache_set_budget(room(n)), 0);
    unsigned char *out;
    for (int t = 0; t < n; t++) {
        ASSERT_EQ(o.getTileGrid(0, t, &out), 0) << t;
        ASSERT_EQ(sample_at(out, 0), static_cast<int16_t>(t));
    }
    EXPECT_EQ(orvex_cache_count(), n);
    EXPECT_EQ(inflations_of([&] {
                  for (int t = 0; t < n; t += 7) ASSERT_EQ(o.getTileGrid(0, t, &out), 0);
              }),
              0u);
    // Without a budget the 1000-entry limit is back.
    ASSERT_EQ(orvex_cache_set_budget(0), 0);
    Orvex other;
    grid_fake_input(&other, {1}, 10, 5, true, p);
    EXPECT_EQ(other.getTileGrid(0, 0, &out), -1);
    EXPECT_EQ(grid_take_messages(),
              std::vector<std::string>{"Orvex::getTileGrid: Attempt to exceed max cache dimension.\n"});
    o.cleanCacheEntries(999, 1);
    EXPECT_EQ(other.getTileGrid(0, 0, &out), 0);
}

TEST_F(TileCacheBudget, ABudgetBeyondAnyMemoryIsRefused)
{
    ASSERT_EQ(orvex_cache_set_budget(4096), 0);
    EXPECT_EQ(orvex_cache_set_budget(static_cast<size_t>(-1)), -1);
    auto m = grid_take_messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].rfind("orvex_cache_set_budget: a budget of 18446744073709551615 bytes", 0), 0u) << m[0];
    EXPECT_EQ(orvex_cache_budget(), 4096u);
}

// A failed miss gives back the room it reserved: later misses evict only
// what they need.
TEST_F(TileCacheBudget, AFailingAllocationLeavesTheCacheAsItWas)
{
    auto p = tiles(4);
    Orvex o;
    grid_fake_input(&o, {4}, 10, 5, true, p);
    ASSERT_EQ(orvex_cache_set_budget(room(2)), 0);
    unsigned char *out;
    ASSERT_EQ(o.getTileGrid(0, 0, &out), 0);
    {
        GridFailingCall failing(GridFailingCall::kMalloc, 1);
        EXPECT_EQ(o.getTileGrid(0, 1, &out), -1);
        EXPECT_TRUE(GridFailingCall::fired());
    }
    auto m = grid_take_messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].rfind("Orvex::getTileGrid: malloc(stream) error.: ", 0), 0u) << m[0];
    EXPECT_EQ(orvex_cache_count(), 1);
    ASSERT_EQ(o.getTileGrid(0, 1, &out), 0);
    EXPECT_EQ(orvex_cache_count(), 2);
    // Whichever allocation of a miss fails, the miss fails whole or works.
    for (long nth = 1; nth <= 3; nth++) {
        o.cleanCache(0, 1);
        GridFailingCall failing(GridFailingCall::kMalloc, nth);
        int rc = o.holdTileGrid(0, 2, &out);
        EXPECT_EQ(orvex_cache_count(), rc == 0 ? 1 : 0);
        if (rc == 0) {
            EXPECT_EQ(sample_at(out, 0), 2);
            o.releaseTileGrid(0, 2);
        }
        grid_take_messages();
    }
}

// Under a budget an object's destructor drops its own tiles, held or not,
// and leaves the others; without one it drops every tile nobody holds.
TEST_F(TileCacheBudget, DestructorsDropTheirOwnTilesAndSpareHeldOnes)
{
    auto p = tiles(2);
    Orvex x;
    grid_fake_input(&x, {2}, 10, 5, true, p);
    unsigned char *held, *out;
    for (size_t budget : {size_t(1) << 20, size_t(0)}) {
        ASSERT_EQ(orvex_cache_set_budget(budget), 0);
        ASSERT_EQ(x.holdTileGrid(0, 0, &held), 0);
        ASSERT_EQ(x.getTileGrid(0, 1, &out), 0);
        {
            Orvex y;
            grid_fake_input(&y, {2}, 10, 5, true, p);
            ASSERT_EQ(y.holdTileGrid(0, 0, &out), 0);
            ASSERT_EQ(y.getTileGrid(0, 1, &out), 0);
            EXPECT_EQ(orvex_cache_count(), 4);
        }
        EXPECT_EQ(orvex_cache_count(), budget ? 2 : 1) << budget;
        EXPECT_EQ(sample_at(held, 49), 0);
        x.releaseTileGrid(0, 0);
        x.cleanCache(0, 1);
    }
}

// A map of 1 x n tiles of rows x cols, read the way a drawing reads it:
// each pixel row crosses every tile, whose tiles are held for the band.
long draw_rows(Orvex *o, long n, long rows, long cols)
{
    std::vector<unsigned char *> band(static_cast<size_t>(n));
    for (long t = 0; t < n; t++)
        if (o->holdTileGrid(0, static_cast<int>(t), &band[static_cast<size_t>(t)]) != 0) return -1;
    long sum = 0;
    for (long r = 0; r < rows; r++)
        for (long t = 0; t < n; t++)
            for (long c = 0; c < cols; c++) sum += sample_at(band[static_cast<size_t>(t)], r * cols + c);
    for (long t = 0; t < n; t++) o->releaseTileGrid(0, static_cast<int>(t));
    return sum;
}

TEST_F(TileCacheBudget, TwoThreadsOnTilesLargerThanTheBudgetInflateEachTileOnce)
{
    const long n = 6, rows = 64, cols = 64;  // tiles of 8 KB
    auto p = tiles(n, rows, cols);
    Orvex a, b;
    grid_fake_input(&a, {n}, rows, cols, true, p);
    grid_fake_input(&b, {n}, rows, cols, true, p);
    ASSERT_EQ(orvex_cache_set_budget(4096), 0);
    const long want = rows * cols * (0 + 1 + 2 + 3 + 4 + 5);
    long one = 0;
    EXPECT_EQ(inflations_of([&] { one = draw_rows(&a, n, rows, cols); }), static_cast<unsigned long>(n));
    EXPECT_EQ(one, want);
    long sa = 0, sb = 0;
    unsigned long two = inflations_of([&] {
        std::thread ta([&] { sa = draw_rows(&a, n, rows, cols); });
        std::thread tb([&] { sb = draw_rows(&b, n, rows, cols); });
        ta.join();
        tb.join();
    });
    EXPECT_EQ(sa, want);
    EXPECT_EQ(sb, want);
    EXPECT_EQ(two, static_cast<unsigned long>(2 * n));
    EXPECT_LE(orvex_cache_bytes(), 8192u);  // released: back to at most one tile
}

TEST_F(TileCacheBudget, OneThreadDoesNotInflateATileForEveryRow)
{
    const long rows = 64, cols = 64;
    auto p = tiles(4, rows, cols);
    Orvex o;
    grid_fake_input(&o, {4}, rows, cols, true, p);
    // Tiles over half the budget, two to a row of pixels.
    ASSERT_EQ(orvex_cache_set_budget(12000), 0);
    EXPECT_EQ(inflations_of([&] { EXPECT_GE(draw_rows(&o, 2, rows, cols), 0); }), 2u);
    // A tile larger than the whole budget, held and released for every row.
    ASSERT_EQ(orvex_cache_set_budget(4096), 0);
    unsigned long made = inflations_of([&] {
        unsigned char *out;
        for (long r = 0; r < rows; r++) {
            ASSERT_EQ(o.holdTileGrid(0, 3, &out), 0);
            EXPECT_EQ(sample_at(out, r * cols), 3);
            o.releaseTileGrid(0, 3);
        }
    });
    EXPECT_EQ(made, 1u);
}

// Threads holding, reading and releasing tiles of two shared objects under
// a budget far smaller than the tiles they use, while others trim and
// change the budget: every held tile keeps its samples, the totals agree.
TEST_F(TileCacheBudget, ManyThreadsHoldAndEvictAtOnce)
{
    const long n = 200;
    auto p = tiles(n);
    Orvex a, b;
    grid_fake_input(&a, {n}, 10, 5, true, p);
    grid_fake_input(&b, {n}, 10, 5, true, p);
    ASSERT_EQ(orvex_cache_set_budget(room(20)), 0);
    std::atomic<long> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; i++) {
        threads.emplace_back([&, i] {
            Orvex *o = i % 2 ? &a : &b;
            unsigned x = 7u + static_cast<unsigned>(i);
            for (int k = 0; k < 3000; k++) {
                x = x * 1103515245u + 12345u;
                int t = static_cast<int>((x >> 8) % n), u = static_cast<int>((x >> 16) % n);
                unsigned char *pt, *pu;
                if (o->holdTileGrid(0, t, &pt) != 0) {
                    failures++;
                    continue;
                }
                if (o->holdTileGrid(0, u, &pu) != 0) failures++;
                else {
                    if (sample_at(pu, 49) != u) failures++;
                    o->releaseTileGrid(0, u);
                }
                if (sample_at(pt, 0) != t || sample_at(pt, 49) != t) failures++;
                o->releaseTileGrid(0, t);
            }
        });
    }
    threads.emplace_back([&] {
        for (int k = 0; k < 300; k++) {
            a.cleanCache(k % 3 ? 1000 : 0, k % 2);
            orvex_cache_set_budget(room(k % 5 ? 20 : 5));
        }
    });
    for (auto &t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_EQ(orvex_cache_set_budget(room(20)), 0);
    EXPECT_LE(orvex_cache_count(), 20);
    EXPECT_EQ(orvex_cache_bytes(), static_cast<size_t>(orvex_cache_count()) * 100);
}

}  // namespace
