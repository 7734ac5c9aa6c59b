// The tile cache with tiles larger than its budget: rows of a map drawn by
// 1 and 2 threads, tiles of 16 MB, a budget of 24 MB. Prints seconds and
// inflations (of the first 64 rows only when trimming, which inflates
// tiles for every row) for
//   - trimming per object: every thread its own object, getTileGrid and
//     cleanCache(budget, 0) after every row (no process budget);
//   - holding, own objects: the process budget, every thread holding the
//     tile of its band of columns for the band's rows;
//   - holding, one shared object: the same with one object for all threads.
//
//   bench_cache [FOLDER]   (the map is made there, default /tmp)

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "OrvexInternal.h"

namespace {

const long kRows = 4096, kCols = 8192, kTileCols = 4;  // tiles of 4096 x 2048 elevations
const size_t kBudget = 24UL << 20;

void die(const char *what)
{
    fprintf(stderr, "bench_cache: %s failed\n", what);
    exit(1);
}

std::string make_map(const std::string &folder)
{
    std::string dem = folder + "/bench_cache.dem", out = folder + "/bench_cache.orx";
    FILE *f = fopen(dem.c_str(), "wb");
    if (!f) die("writing the grid");
    std::vector<short> row(kCols);
    for (long r = 0; r < kRows; r++) {
        for (long c = 0; c < kCols; c++) row[c] = static_cast<short>((r * 7 + c * 13) % 9000 - 500);
        fwrite(row.data(), 2, row.size(), f);
    }
    fclose(f);
    f = fopen((dem + ".pf").c_str(), "w");
    fprintf(f, "lat 89.99\nlon -180\ndlat %.10f\ndlon %.10f\nnlat %ld\nnlon %ld\n", -179.0 / kRows, 359.0 / kCols,
            kRows, kCols);
    fclose(f);
    Orvex in, map;
    if (in.setInput(dem.c_str(), 0, nullptr) != 0) die("opening the grid");
    remove(out.c_str());
    if (map.setOutput(out.c_str()) != 0 || map.setResolutionHdrGrid(&in, 0, 0, 1, 1, 1, kTileCols, "b", "b") != 0 ||
        map.writeDataGrid(1, 0) != 0)
        die("building the map");
    return out;
}

long read_row(const unsigned char *tile, long r)
{
    long sum = 0;
    const unsigned char *p = tile + r * (kCols / kTileCols) * 2;
    for (long c = 0; c < kCols / kTileCols; c++) sum += static_cast<short>(p[2 * c] | p[2 * c + 1] << 8);
    return sum;
}

// Rows r0 to r1 - 1 across every tile, trimming this object's tiles after
// every row.
long trimming(Orvex *map, long r0, long r1)
{
    long sum = 0;
    for (long r = r0; r < r1; r++) {
        for (int t = 0; t < kTileCols; t++) {
            unsigned char *tile;
            if (map->getTileGrid(0, t, &tile) != 0) die("getTileGrid");
            sum += read_row(tile, r);
        }
        map->cleanCache(static_cast<long>(kBudget), 0);
    }
    return sum;
}

// The same rows, a band of one tile column at a time, its tile held.
long holding(Orvex *map, long r0, long r1)
{
    long sum = 0;
    for (int t = 0; t < kTileCols; t++) {
        unsigned char *tile;
        if (map->holdTileGrid(0, t, &tile) != 0) die("holdTileGrid");
        for (long r = r0; r < r1; r++) sum += read_row(tile, r);
        map->releaseTileGrid(0, t);
    }
    return sum;
}

void run(const char *name, const std::string &path, int threads, bool hold, bool shared, long rows)
{
    orvex_cache_set_budget(hold ? kBudget : 0);
    std::vector<Orvex *> maps;
    for (int i = 0; i < (shared ? 1 : threads); i++) {
        maps.push_back(new Orvex);
        if (maps.back()->setInput(path.c_str(), 0, "orx") != 0) die("opening the map");
    }
    unsigned long before = orvex_cache_inflations();
    orvex_cache_reset_peak();
    auto t0 = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    std::atomic<long> total{0};
    for (int i = 0; i < threads; i++)
        workers.emplace_back([&, i] {
            Orvex *m = maps[shared ? 0 : static_cast<size_t>(i)];
            long r0 = rows * i / threads, r1 = rows * (i + 1) / threads;
            total += hold ? holding(m, r0, r1) : trimming(m, r0, r1);
        });
    for (std::thread &w : workers) w.join();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    printf("%-27s %d thread%s, %4ld rows: %7.2f s, %5lu inflations, peak %3zu MB cached (sum %ld)\n", name,
           threads, threads > 1 ? "s" : " ", rows, s, orvex_cache_inflations() - before,
           orvex_cache_peak_bytes() >> 20, total.load());
    for (Orvex *m : maps) delete m;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string path = make_map(argc > 1 ? argv[1] : "/tmp");
    printf("map: %ld x %ld elevations in %ld tiles of %ld MB, budget %zu MB\n", kCols, kRows, kTileCols,
           kRows * kCols / kTileCols * 2 >> 20, kBudget >> 20);
    for (int threads : {1, 2}) {
        run("trimming per object", path, threads, false, false, 64);  // every row inflates again
        run("holding, own objects", path, threads, true, false, kRows);
        run("holding, one shared object", path, threads, true, true, kRows);
    }
    orvex_cache_set_budget(0);
    return 0;
}
