// The process-wide cache of inflated grid tiles: hits, the 1000-entry
// limit, eviction and compaction, other objects, teardown, bad payloads,
// failures that leave the cache as it was, and many threads at once.

#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "grid_fixtures.h"
#include "tile_codec.h"

namespace {

class TileCache : public ::testing::Test {
protected:
    void SetUp() override
    {
        Orvex().cleanCache(0, 1);  // start empty, whatever ran before
        elog_clear_register(0);
    }
    void TearDown() override { elog_clear_register(0); }
};

// Tiles of 10 x 5 elevations: 100 bytes inflated. Tile t holds the value t.
std::vector<std::vector<uint8_t>> numbered_payloads(long n, bool compressed)
{
    std::vector<std::vector<uint8_t>> p;
    for (long t = 0; t < n; t++) {
        std::vector<uint8_t> raw = grid_samples(50, static_cast<int16_t>(t));
        p.push_back(compressed ? grid_deflate(raw) : raw);
    }
    return p;
}

int16_t first_sample(const unsigned char *buf)
{
    int16_t v;
    memcpy(&v, buf, 2);
    return v;
}

TEST_F(TileCache, UncompressedTilesAreHandedOutInPlace)
{
    auto payloads = numbered_payloads(2, false);
    Orvex o;
    grid_fake_input(&o, {2}, 10, 5, false, payloads);
    unsigned char *a = nullptr, *b = nullptr;
    ASSERT_EQ(o.getTileGrid(0, 1, &a), 0);
    ASSERT_EQ(o.getTileGrid(0, 1, &b), 0);
    EXPECT_EQ(a, payloads[1].data());
    EXPECT_EQ(a, b);
    EXPECT_EQ(orvex_cache_count(), 0);
}

TEST_F(TileCache, UncompressedTileShorterThanItsSamplesIsRefused)
{
    std::vector<std::vector<uint8_t>> payloads = {grid_samples(49, 1)};
    Orvex o;
    grid_fake_input(&o, {1}, 10, 5, false, payloads);
    unsigned char *out = reinterpret_cast<unsigned char *>(&o);
    EXPECT_EQ(o.getTileGrid(0, 0, &out), -1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(grid_take_messages().size(), 1u);
}

TEST_F(TileCache, CompressedTilesAreInflatedOncePerObjectResolutionAndTile)
{
    auto payloads = numbered_payloads(3, true);
    Orvex x, y;
    grid_fake_input(&x, {3, 3}, 10, 5, true, payloads);
    grid_fake_input(&y, {3}, 10, 5, true, payloads);
    unsigned char *a, *b, *c, *d;
    ASSERT_EQ(x.getTileGrid(0, 2, &a), 0);
    ASSERT_EQ(x.getTileGrid(0, 2, &b), 0);
    EXPECT_EQ(a, b);
    EXPECT_EQ(first_sample(a), 2);
    EXPECT_EQ(orvex_cache_count(), 1);
    EXPECT_EQ(orvex_cache_bytes(), 100u);
    ASSERT_EQ(x.getTileGrid(1, 2, &c), 0);
    ASSERT_EQ(y.getTileGrid(0, 2, &d), 0);
    EXPECT_NE(c, a);
    EXPECT_NE(d, a);
    EXPECT_EQ(orvex_cache_count(), 3);
    EXPECT_EQ(orvex_cache_bytes(), 300u);
}

TEST_F(TileCache, AThousandEntriesAtMost)
{
    auto payloads = numbered_payloads(1, true);
    Orvex o;
    grid_fake_input(&o, {1001}, 10, 5, true, payloads);
    std::vector<unsigned char *> first(1000);
    for (int t = 0; t < 1000; t++) ASSERT_EQ(o.getTileGrid(0, t, &first[t]), 0);
    unsigned char *out = first[0];
    EXPECT_EQ(o.getTileGrid(0, 1000, &out), -1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(grid_take_messages(),
              std::vector<std::string>{"Orvex::getTileGrid: Attempt to exceed max cache dimension.\n"});
    EXPECT_EQ(orvex_cache_count(), 1000);
    for (int t : {0, 500, 999}) {
        ASSERT_EQ(o.getTileGrid(0, t, &out), 0);
        EXPECT_EQ(out, first[t]);
    }
}

TEST_F(TileCache, ShortPayloadLeavesZerosAndLongOneFails)
{
    std::vector<std::vector<uint8_t>> payloads = {grid_deflate(grid_samples(20, 7)),
                                                  grid_deflate(grid_samples(51, 7)),
                                                  std::vector<uint8_t>{1, 2, 3, 4}};
    Orvex o;
    grid_fake_input(&o, {3}, 10, 5, true, payloads);
    unsigned char *out;
    ASSERT_EQ(o.getTileGrid(0, 0, &out), 0);
    EXPECT_EQ(first_sample(out), 7);
    EXPECT_EQ(first_sample(out + 38), 7);
    for (int i = 40; i < 100; i++) ASSERT_EQ(out[i], 0) << i;
    for (int tile : {1, 2}) {
        EXPECT_EQ(o.getTileGrid(0, tile, &out), -1);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(grid_take_messages(),
                  std::vector<std::string>{"Orvex::getTileGrid: inflate() error.\n"});
    }
    EXPECT_EQ(orvex_cache_count(), 1);
    EXPECT_EQ(orvex_cache_bytes(), 100u);
}

TEST_F(TileCache, FailedRequestsLeaveTheCacheAsItWas)
{
    auto payloads = numbered_payloads(2, true);
    Orvex o;
    grid_fake_input(&o, {2}, 10, 5, true, payloads);
    unsigned char *out;
    ASSERT_EQ(o.getTileGrid(0, 0, &out), 0);
    {
        GridFailingCall fail(GridFailingCall::kMalloc, 1);
        EXPECT_EQ(o.getTileGrid(0, 1, &out), -1);
        EXPECT_TRUE(GridFailingCall::fired());
    }
    std::vector<std::string> m = grid_take_messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].rfind("Orvex::getTileGrid: malloc(stream) error.: ", 0), 0u) << m[0];
    EXPECT_EQ(orvex_cache_count(), 1);
    EXPECT_EQ(orvex_cache_bytes(), 100u);

    const char *range[][2] = {{"-1", "0"}, {"1", "0"}, {"0", "-1"}, {"0", "2"}};
    for (auto &r : range) {
        EXPECT_EQ(o.getTileGrid(atoi(r[0]), atoi(r[1]), &out), -1);
        EXPECT_EQ(out, nullptr);
    }
    m = grid_take_messages();
    EXPECT_EQ(m, (std::vector<std::string>{"Orvex::getTileGrid: resolution out of range\n",
                                           "Orvex::getTileGrid: resolution out of range\n",
                                           "Orvex::getTileGrid: tile out of range\n",
                                           "Orvex::getTileGrid: tile out of range\n"}));
    // The mutex is free: the next miss goes through.
    ASSERT_EQ(o.getTileGrid(0, 1, &out), 0);
    EXPECT_EQ(orvex_cache_count(), 2);
}

TEST_F(TileCache, VectorResolutionIsRefused)
{
    auto payloads = numbered_payloads(1, true);
    Orvex o;
    grid_fake_input(&o, {1}, 10, 5, true, payloads);
    o.frame.resolutions[0].map_type = ORVEX_MAP_VECTOR;
    OrvexGrid *g = static_cast<OrvexGrid *>(o.frame.resolutions[0].data);
    unsigned char *out = nullptr;
    EXPECT_EQ(o.getTileGrid(0, 0, &out), -1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(grid_take_messages(),
              std::vector<std::string>{"Orvex::getTileGrid: input map type must be grid\n"});
    // Give the records back their grid type so teardown frees the grid.
    o.frame.resolutions[0].map_type = ORVEX_MAP_GRID;
    o.frame.resolutions[0].data = g;
}

TEST_F(TileCache, EvictionFreesOldestFirstUntilTheBudgetHolds)
{
    auto payloads = numbered_payloads(3, true);
    Orvex o;
    grid_fake_input(&o, {3}, 10, 5, true, payloads);
    unsigned char *out;
    for (int t = 0; t < 3; t++) ASSERT_EQ(o.getTileGrid(0, t, &out), 0);
    unsigned char *third = out;
    o.cleanCache(301, 1);
    o.cleanCache(-1, 1);
    o.cleanCache(300, 1);  // equal to the total: nothing to free
    EXPECT_EQ(orvex_cache_count(), 3);
    EXPECT_EQ(o.cleanCache(150, 1), 0);
    EXPECT_EQ(orvex_cache_count(), 1);
    EXPECT_EQ(orvex_cache_bytes(), 100u);
    ASSERT_EQ(o.getTileGrid(0, 2, &out), 0);  // the newest one survived
    EXPECT_EQ(out, third);
    EXPECT_EQ(orvex_cache_count(), 1);
}

TEST_F(TileCache, AnObjectCleansOnlyItsOwnEntriesKeepingTheOthersInOrder)
{
    auto payloads = numbered_payloads(2, true);
    Orvex x, y;
    grid_fake_input(&x, {2}, 10, 5, true, payloads);
    grid_fake_input(&y, {2}, 10, 5, true, payloads);
    unsigned char *out, *ys;
    ASSERT_EQ(x.getTileGrid(0, 0, &out), 0);
    ASSERT_EQ(y.getTileGrid(0, 0, &ys), 0);
    ASSERT_EQ(x.getTileGrid(0, 1, &out), 0);
    x.cleanCache(0, 0);
    EXPECT_EQ(orvex_cache_count(), 1);
    ASSERT_EQ(y.getTileGrid(0, 0, &out), 0);
    EXPECT_EQ(out, ys);
    // Y's entry is now the oldest: trimming by one entry removes it.
    ASSERT_EQ(x.getTileGrid(0, 1, &out), 0);
    x.cleanCache(100, 1);
    EXPECT_EQ(orvex_cache_count(), 1);
    ASSERT_EQ(x.getTileGrid(0, 1, &ys), 0);
    EXPECT_EQ(ys, out);
    EXPECT_EQ(orvex_cache_count(), 1);
    // An object with no entries frees nothing, even when over budget.
    Orvex z;
    z.cleanCache(0, 0);
    EXPECT_EQ(orvex_cache_count(), 1);
}

TEST_F(TileCache, AnyDestructorEmptiesTheCache)
{
    auto payloads = numbered_payloads(2, true);
    Orvex x;
    grid_fake_input(&x, {2}, 10, 5, true, payloads);
    unsigned char *out;
    ASSERT_EQ(x.getTileGrid(0, 0, &out), 0);
    ASSERT_EQ(x.getTileGrid(0, 1, &out), 0);
    { Orvex other; }
    EXPECT_EQ(orvex_cache_count(), 0);
    EXPECT_EQ(orvex_cache_bytes(), 0u);
    ASSERT_EQ(x.getTileGrid(0, 1, &out), 0);
    EXPECT_EQ(first_sample(out), 1);
    EXPECT_EQ(orvex_cache_count(), 1);
}

TEST_F(TileCache, TrimmingByCountFreesOldestFirstAndMayExceedNoLimit)
{
    auto payloads = numbered_payloads(2, true);
    Orvex x, y;
    grid_fake_input(&x, {2}, 10, 5, true, payloads);
    grid_fake_input(&y, {2}, 10, 5, true, payloads);
    unsigned char *out, *y1;
    ASSERT_EQ(x.getTileGrid(0, 0, &out), 0);
    ASSERT_EQ(y.getTileGrid(0, 0, &out), 0);
    ASSERT_EQ(x.getTileGrid(0, 1, &out), 0);
    ASSERT_EQ(y.getTileGrid(0, 1, &y1), 0);
    EXPECT_EQ(x.cleanCacheEntries(4, 1), 0);
    EXPECT_EQ(x.cleanCacheEntries(-1, 1), 0);
    EXPECT_EQ(orvex_cache_count(), 4);
    x.cleanCacheEntries(3, 0);  // X's oldest
    EXPECT_EQ(orvex_cache_count(), 3);
    x.cleanCacheEntries(1, 0);  // X's other one; Y's stay
    EXPECT_EQ(orvex_cache_count(), 2);
    EXPECT_EQ(orvex_cache_bytes(), 200u);
    x.cleanCacheEntries(1, 1);  // the oldest of any object: Y's first
    EXPECT_EQ(orvex_cache_count(), 1);
    EXPECT_EQ(orvex_cache_bytes(), 100u);
    ASSERT_EQ(y.getTileGrid(0, 1, &out), 0);
    EXPECT_EQ(out, y1);
    EXPECT_EQ(orvex_cache_count(), 1);
}

// The README's display loop on a map of more tiles than the table holds:
// trimming by bytes alone frees nothing when the tiles are small, trimming
// by count as well lets every request through.
TEST_F(TileCache, TrimmingByCountMakesRoomInAFullTable)
{
    auto payloads = numbered_payloads(1, true);
    Orvex o;
    grid_fake_input(&o, {2500}, 10, 5, true, payloads);
    unsigned char *out;
    for (int t = 0; t < 2500; t++) {
        ASSERT_EQ(o.getTileGrid(0, t, &out), 0) << t;
        EXPECT_EQ(first_sample(out), 0);
        o.cleanCache(64L << 20, 0);
        o.cleanCacheEntries(500, 0);
        ASSERT_LE(orvex_cache_count(), 500);
    }
    ASSERT_EQ(o.getTileGrid(0, 2499, &out), 0);  // the newest stayed
    EXPECT_EQ(orvex_cache_count(), 500);
    ASSERT_EQ(o.getTileGrid(0, 0, &out), 0);  // the oldest went
    EXPECT_EQ(orvex_cache_count(), 501);
}

// An inflate held at a gate: the first inflate made while `hold` is set
// waits until the gate opens. Counts the inflates begun.
struct Gate {
    static std::mutex m;
    static std::condition_variable cv;
    static bool open, hold;
    static std::atomic<int> made;
    static void *(*real)(void);

    static void *held_inflater()
    {
        if (made++ == 0 && hold) {
            std::unique_lock<std::mutex> l(m);
            cv.wait(l, [] { return open; });
        }
        return real();
    }
    Gate()
    {
        open = false;
        hold = true;
        made = 0;
        real = orvex_sys_inflater_new;
        orvex_sys_inflater_new = held_inflater;
    }
    ~Gate() { orvex_sys_inflater_new = real; }
    static void wait_for_first()
    {
        while (made.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    static void release()
    {
        // Let a second requester reach its wait first.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::lock_guard<std::mutex> l(m);
        open = true;
        cv.notify_all();
    }
};
std::mutex Gate::m;
std::condition_variable Gate::cv;
bool Gate::open, Gate::hold;
std::atomic<int> Gate::made;
void *(*Gate::real)(void);

// While one miss inflates: hits and other misses go through, the pending
// tile counts toward the 1000, trimming leaves it, and a second request for
// it waits and gets the same tile, inflated once.
TEST_F(TileCache, AMissInflatingHoldsUpNoOtherRequest)
{
    auto payloads = numbered_payloads(1001, true);
    Orvex o;
    grid_fake_input(&o, {1001}, 10, 5, true, payloads);
    unsigned char *out;
    for (int t = 0; t < 998; t++) ASSERT_EQ(o.getTileGrid(0, t, &out), 0);
    Gate gate;
    unsigned char *a = nullptr, *b = nullptr;
    std::thread first([&] { o.getTileGrid(0, 998, &a); });
    Gate::wait_for_first();
    std::thread second([&] { o.getTileGrid(0, 998, &b); });
    ASSERT_EQ(o.getTileGrid(0, 5, &out), 0);  // a hit
    EXPECT_EQ(first_sample(out), 5);
    ASSERT_EQ(o.getTileGrid(0, 999, &out), 0);  // another miss
    EXPECT_EQ(first_sample(out), 999);
    EXPECT_EQ(orvex_cache_count(), 1000);
    EXPECT_EQ(o.getTileGrid(0, 1000, &out), -1);
    EXPECT_EQ(grid_take_messages(),
              std::vector<std::string>{"Orvex::getTileGrid: Attempt to exceed max cache dimension.\n"});
    o.cleanCacheEntries(0, 0);
    EXPECT_EQ(orvex_cache_count(), 1);  // the pending one
    EXPECT_EQ(orvex_cache_bytes(), 0u);
    Gate::release();
    first.join();
    second.join();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(first_sample(a), 998);
    EXPECT_EQ(Gate::made.load(), 2);  // tiles 998 and 999
    EXPECT_EQ(orvex_cache_count(), 1);
    EXPECT_EQ(orvex_cache_bytes(), 100u);
}

// A held inflate that fails: the cache is as before, and the request that
// waited for it tries for itself and reports the same failure.
TEST_F(TileCache, AFailedMissLeavesItsWaiterToTryItself)
{
    std::vector<std::vector<uint8_t>> payloads = {grid_deflate(grid_samples(50, 1)), {1, 2, 3, 4}};
    Orvex o;
    grid_fake_input(&o, {2}, 10, 5, true, payloads);
    unsigned char *out;
    ASSERT_EQ(o.getTileGrid(0, 0, &out), 0);
    Gate gate;
    std::vector<std::string> ma, mb;
    int ra = 0, rb = 0;
    std::thread first([&] {
        ra = o.getTileGrid(0, 1, &out);
        ma = grid_take_messages();
    });
    Gate::wait_for_first();
    std::thread second([&] {
        unsigned char *p;
        rb = o.getTileGrid(0, 1, &p);
        mb = grid_take_messages();
    });
    Gate::release();
    first.join();
    second.join();
    const std::vector<std::string> inflate_error = {"Orvex::getTileGrid: inflate() error.\n"};
    EXPECT_EQ(ra, -1);
    EXPECT_EQ(rb, -1);
    EXPECT_EQ(ma, inflate_error);
    EXPECT_EQ(mb, inflate_error);
    EXPECT_EQ(Gate::made.load(), 2);
    EXPECT_EQ(orvex_cache_count(), 1);
    EXPECT_EQ(orvex_cache_bytes(), 100u);
}

// Readers of two shared objects verify every tile they get while cleaners,
// each with an object of its own, fill and trim the cache: the shared
// objects' entries are never lost, duplicated or mixed up.
TEST_F(TileCache, ManyThreadsReadAndCleanAtOnce)
{
    const long kTiles = 300;
    auto payloads = numbered_payloads(kTiles, true);
    Orvex a, b;
    grid_fake_input(&a, {kTiles}, 10, 5, true, payloads);
    grid_fake_input(&b, {kTiles}, 10, 5, true, payloads);
    std::vector<Orvex *> cleaners_objects;
    for (int i = 0; i < 3; i++) {
        cleaners_objects.push_back(new Orvex);
        grid_fake_input(cleaners_objects.back(), {100}, 10, 5, true, payloads);
    }
    std::atomic<long> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; i++) {
        threads.emplace_back([&, i] {
            Orvex *o = i % 2 ? &a : &b;
            for (int round = 0; round < 5; round++) {
                for (long t = 0; t < kTiles; t++) {
                    long tile = (t * 7 + i * 13) % kTiles;
                    unsigned char *out;
                    if (o->getTileGrid(0, static_cast<int>(tile), &out) < 0 ||
                        first_sample(out) != tile || first_sample(out + 98) != tile)
                        failures++;
                }
            }
        });
    }
    for (int i = 0; i < 3; i++) {
        threads.emplace_back([&, i] {
            Orvex *o = cleaners_objects[static_cast<size_t>(i)];
            for (int round = 0; round < 40; round++) {
                for (int t = 0; t < 100; t++) {
                    unsigned char *out;
                    if (o->getTileGrid(0, t, &out) < 0 || first_sample(out) != t) failures++;
                }
                o->cleanCache(round % 2 ? 0 : 100000, 0);
            }
            o->cleanCache(0, 0);
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(orvex_cache_count(), 2 * kTiles);
    EXPECT_EQ(orvex_cache_bytes(), static_cast<size_t>(2 * kTiles * 100));
    for (Orvex *o : cleaners_objects) delete o;  // each destructor empties the cache
    EXPECT_EQ(orvex_cache_count(), 0);
    EXPECT_EQ(orvex_cache_bytes(), 0u);
}

// Cleaning everything while others request tiles: nobody dereferences the
// pointers here, the cache's own bookkeeping is what is under test.
TEST_F(TileCache, ManyThreadsCleaningEverything)
{
    auto payloads = numbered_payloads(50, true);
    Orvex a;
    grid_fake_input(&a, {50}, 10, 5, true, payloads);
    std::atomic<long> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; i++) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 200; round++) {
                unsigned char *out;
                if (a.getTileGrid(0, (round + i) % 50, &out) < 0) failures++;
                if (i >= 2 && round % 5 == 0) a.cleanCache(i == 2 ? 0 : 2000, 1);
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    size_t count = static_cast<size_t>(orvex_cache_count());
    EXPECT_LE(count, 50u);
    EXPECT_EQ(orvex_cache_bytes(), count * 100);
    a.cleanCache(0, 1);
    EXPECT_EQ(orvex_cache_count(), 0);
    EXPECT_EQ(orvex_cache_bytes(), 0u);
}

}  // namespace
