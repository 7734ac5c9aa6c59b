#include "compare_read.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <thread>

namespace {

double wall_now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

uint64_t next_random(uint64_t *s)
{
    uint64_t x = (*s += 0x9E3779B97F4A7C15ULL);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// A fraction in (-0.4, 0.4).
double jitter(uint64_t *s) { return (static_cast<double>(next_random(s) >> 11) / 9007199254740992.0 - 0.5) * 0.8; }

}  // namespace

int compare_parse(int argc, char **argv, ReadJob *job)
{
    bool ok = argc >= 4 && argc <= 6 &&
              (strcmp(argv[2], "tiles") == 0 || strcmp(argv[2], "lookups") == 0);
    if (ok) {
        job->path = argv[1];
        job->lookups = strcmp(argv[2], "lookups") == 0;
        job->threads = atoi(argv[3]);
        if (argc > 4) job->count = atol(argv[4]);
        if (argc > 5) job->salt = strtoull(argv[5], nullptr, 10);
        ok = job->threads >= 1 && job->threads <= 64 && job->count >= 1;
    }
    if (!ok) fprintf(stderr, "usage: %s FILE tiles|lookups THREADS [COUNT SALT]\n", argv[0]);
    return ok ? 0 : -1;
}

std::vector<Position> compare_positions(const SampleGrid &grid, long count, uint64_t salt)
{
    std::vector<Position> out(static_cast<size_t>(count));
    uint64_t s = salt;
    for (Position &p : out) {
        p.row = static_cast<long>(next_random(&s) % static_cast<uint64_t>(grid.nrows));
        p.col = static_cast<long>(next_random(&s) % static_cast<uint64_t>(grid.ncols));
        p.lat = grid.lat0 + (p.row + jitter(&s)) * grid.dlat;
        p.lon = grid.lon0 + (p.col + jitter(&s)) * grid.dlon;
    }
    return out;
}

double compare_threads(int threads, const std::function<bool(int, int64_t *)> &work,
                       int64_t *checksum)
{
    std::atomic<int> ready{0}, failed{0};
    std::atomic<int64_t> total{0};
    std::vector<std::thread> pool;
    double start = 0;
    for (int t = 0; t < threads; t++)
        pool.emplace_back([&, t] {
            ready++;
            while (ready.load() < threads + 1) std::this_thread::yield();
            int64_t sum = 0;
            if (!work(t, &sum)) failed++;
            total += sum;
        });
    while (ready.load() < threads) std::this_thread::yield();
    start = wall_now();
    ready++;
    for (std::thread &th : pool) th.join();
    double seconds = wall_now() - start;
    if (failed.load()) exit(1);
    *checksum = total.load();
    return seconds;
}

void compare_print(const ReadJob &job, const SampleGrid &grid, double seconds, int64_t checksum)
{
    double rate = job.lookups ? job.count / seconds
                              : grid.nrows * grid.ncols * 2.0 / 1e6 / seconds;
    printf("seconds=%.4f rate=%.6g unit=%s checksum=%lld\n", seconds, rate,
           job.lookups ? "lookups/s" : "MB/s", static_cast<long long>(checksum));
}

int64_t compare_sum(const int16_t *samples, long rows, long cols, long stride)
{
    int64_t sum = 0;
    for (long r = 0; r < rows; r++) {
        const int16_t *row = samples + r * stride;
        for (long c = 0; c < cols; c++) sum += row[c];
    }
    return sum;
}
