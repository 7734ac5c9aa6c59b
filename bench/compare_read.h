// What the two read benchmarks of the comparison with GDAL share: their
// arguments, the random positions, the threads, and the line they print,
// so that the library's side and GDAL's do the same work and say it alike.
//
// Usage of either program: PROGRAM FILE tiles|lookups THREADS [COUNT SALT]
//  tiles    every tile (block) of the finest level read once, the samples
//           summed; THREADS readers each with a handle of its own;
//  lookups  COUNT (default 1000000) random positions over the finest level,
//           every tile (block) read beforehand, the sample nearest each
//           one read and summed; the positions split among THREADS threads.
// Prints "seconds=S rate=R unit=U checksum=C": R in MB/s of samples (the
// finest level's own, nlat x nlon x 2 bytes) or look-ups per second; C the
// sum of the samples read, the same for both programs on the same grid.
#ifndef ORVEX_BENCH_COMPARE_READ_H
#define ORVEX_BENCH_COMPARE_READ_H

#include <stdint.h>

#include <functional>
#include <vector>

struct ReadJob {
    const char *path = nullptr;
    bool lookups = false;
    int threads = 1;
    long count = 1000000;
    uint64_t salt = 1;
};

// The finest level's samples: row 0 at lat0, column 0 at lon0.
struct SampleGrid {
    long nrows = 0, ncols = 0;
    double lat0 = 0, dlat = 0, lon0 = 0, dlon = 0;
};

// A random sample and a position within 0.4 of a step of it, so that the
// nearest sample is the same whichever side rounds it.
struct Position {
    long row, col;
    double lat, lon;
};

// Parses the arguments; prints the usage and returns -1 when they are wrong.
int compare_parse(int argc, char **argv, ReadJob *job);
std::vector<Position> compare_positions(const SampleGrid &grid, long count, uint64_t salt);
// Runs work(thread, &sum) on `threads` threads at once and returns the
// wall seconds from their common start to the last one's end; the sums are
// added into *checksum. A work returning false has printed why: the
// benchmark exits.
double compare_threads(int threads, const std::function<bool(int, int64_t *)> &work,
                       int64_t *checksum);
// Looks up every position, split in equal slices among `threads` threads:
// lookup(thread, position, &sample) gives the sample or returns false.
// Returns the wall seconds as compare_threads does.
template <class Lookup>
double compare_lookups(const std::vector<Position> &points, int threads, Lookup lookup,
                       int64_t *checksum)
{
    return compare_threads(threads, [&](int t, int64_t *sum) {
        size_t first = points.size() * t / threads, end = points.size() * (t + 1) / threads;
        for (size_t i = first; i < end; i++) {
            int16_t z;
            if (!lookup(t, points[i], &z)) return false;
            *sum += z;
        }
        return true;
    }, checksum);
}

void compare_print(const ReadJob &job, const SampleGrid &grid, double seconds, int64_t checksum);

// The sum of a rectangle of little-endian int16 samples, `stride` samples a
// row.
int64_t compare_sum(const int16_t *samples, long rows, long cols, long stride);

#endif
