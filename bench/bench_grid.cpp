// Grid building and reading figures, all measured side by side in one run
// on a generated elevation grid (terrain plus a no-data sea over about half
// of it):
//  - build time of one compressed resolution at dec 1, 2, 4 and 8: by the
//    library on its worker threads (wall-clock and processor time), by the
//    library on one thread, by the literal sampling loop of the tests, and
//    zlib alone deflating the same output bytes at the default level;
//  - the cost of a cache hit of getTileGrid;
//  - warm point look-ups per second (findTile + findPixelWithinTile +
//    getTileGrid + reading the sample), with 1 and with 1000 tiles cached;
//  - reading every tile of the dec 1 map (each inflated through the cache),
//    beside zlib alone inflating the same payloads;
//  - 1,000,000 warm random point look-ups over a map of 800 cached tiles,
//    on one thread and on two at once.
//
// Processor times are those of the whole process (every thread, system
// calls included): on a shared machine they are far steadier than wall
// time. Wall-clock time is what a parallel build is for, so it is given
// beside them. Every figure is the best of five interleaved runs.
//
// Usage: bench_grid [nlat nlon]   (default 5400 10800)
// ORVEX_THREADS sets the library's worker threads, as for any build.

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <thread>
#include <vector>

#include "OrvexInternal.h"
#include "grid_reference.h"
#include "grid_tile_writer.h"
#include "grid_terrain.h"

namespace {

// Processor time of this process, every thread and system time included.
double now()
{
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

double wall_now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// The best processor and wall-clock seconds of several runs.
struct Times {
    double cpu = 1e30, wall = 1e30;
    void keep(const Times &t)
    {
        cpu = t.cpu < cpu ? t.cpu : cpu;
        wall = t.wall < wall ? t.wall : wall;
    }
};

const int kRuns = 5;

struct TempDir {
    std::string dir;
    TempDir()
    {
        char tmpl[] = "/tmp/orvex_bench_XXXXXX";
        if (!mkdtemp(tmpl)) {
            perror("mkdtemp");
            exit(1);
        }
        dir = tmpl;
    }
    ~TempDir()
    {
        if (DIR *d = opendir(dir.c_str())) {
            while (struct dirent *e = readdir(d))
                if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
                    unlink((dir + "/" + e->d_name).c_str());
            closedir(d);
        }
        rmdir(dir.c_str());
    }
    std::string path(const std::string &name) const { return dir + "/" + name; }
};

void die(const char *what)
{
    fprintf(stderr, "bench_grid: %s failed\n", what);
    elog_print(stderr);
    exit(1);
}

// How the tiles are written.
enum Writer { kLibrary, kLibraryOneThread, kLiteral };

// Declares one resolution of 5 x 10 tiles (compressed unless asked) and
// writes it. Returns the time the tile writing took.
Times build(Orvex *in, const std::string &out_path, long dec, Writer writer, int compressed = 1)
{
    unlink(out_path.c_str());
    Orvex out;
    if (out.setOutput(out_path.c_str()) < 0) die("setOutput");
    if (out.setResolutionHdrGrid(in, 0, 0, dec, compressed, 5, 10, "bench", "bench") < 0)
        die("setResolutionHdrGrid");
    const char *threads = getenv("ORVEX_THREADS");
    std::string saved = threads ? threads : "";
    if (writer == kLibraryOneThread) setenv("ORVEX_THREADS", "1", 1);
    Times t;
    t.cpu = now();
    t.wall = wall_now();
    int rc = writer == kLiteral ? grid_reference_write_all(&out, 1, 0) : out.writeDataGrid(1, 0);
    t.cpu = now() - t.cpu;
    t.wall = wall_now() - t.wall;
    if (writer == kLibraryOneThread) {
        if (threads)
            setenv("ORVEX_THREADS", saved.c_str(), 1);
        else
            unsetenv("ORVEX_THREADS");
    }
    if (rc < 0) die("writing tiles");
    return t;
}

// Seconds zlib alone takes to deflate every tile of the map at out_path
// (inflated first), one stream per tile at the default level.
double zlib_alone(const std::string &map_path, size_t *raw_bytes)
{
    Orvex map;
    if (map.setInput(map_path.c_str(), 0, nullptr) < 0) die("setInput(map)");
    const OrvexResolution &r = map.frame.resolutions[0];
    const OrvexGrid &g = *static_cast<OrvexGrid *>(r.data);
    size_t size = static_cast<size_t>(g.nlat_per_tile * g.nlon_per_tile * 2);
    std::vector<std::vector<unsigned char>> tiles;
    for (int t = 0; t < r.ntiles; t++) {
        unsigned char *buf;
        if (map.getTileGrid(0, t, &buf) < 0) die("getTileGrid");
        tiles.emplace_back(buf, buf + size);
        map.cleanCache(0, 0);
    }
    std::vector<unsigned char> out(compressBound(size));
    *raw_bytes = 0;
    double t0 = now();
    for (auto &tile : tiles) {
        uLongf n = out.size();
        if (compress2(out.data(), &n, tile.data(), tile.size(), Z_DEFAULT_COMPRESSION) != Z_OK)
            die("compress2");
        *raw_bytes += tile.size();
    }
    return now() - t0;
}

// A display program's raster: every sample of `rows` x `cols` points from
// (lat0, lon0), row by row, located and read through the cache.
double lookups(Orvex *map, int res, double lat0, double lon0, long rows, long cols, long *sum)
{
    const OrvexResolution *r = &map->frame.resolutions[res];
    OrvexGrid *g = static_cast<OrvexGrid *>(r->data);
    double t0 = now();
    long s = 0;
    for (long i = 0; i < rows; i++) {
        double lat = lat0 + (i + 0.5) * g->dlat;
        for (long j = 0; j < cols; j++) {
            double lon = lon0 + (j + 0.5) * g->dlon;
            int tile;
            long tr, tc, pr, pc, off;
            map->findTile(const_cast<OrvexResolution *>(r), lat, lon, &tile, &tr, &tc);
            map->findPixelWithinTile(const_cast<OrvexResolution *>(r), g, tr, tc, lat, lon, &pr, &pc, &off);
            unsigned char *buf;
            if (tile < 0 || off < 0 || map->getTileGrid(res, tile, &buf) < 0) die("look-up");
            short v;
            memcpy(&v, buf + off, 2);
            s += v;
        }
    }
    *sum += s;
    return now() - t0;
}

// Seconds to read every tile of the map through getTileGrid, the cache
// emptied before each; *bytes receives the samples read.
double read_every_tile(Orvex *map, size_t *bytes)
{
    const OrvexResolution &r = map->frame.resolutions[0];
    const OrvexGrid &g = *static_cast<OrvexGrid *>(r.data);
    *bytes = 0;
    double t0 = wall_now();
    for (int t = 0; t < r.ntiles; t++) {
        unsigned char *buf;
        if (map->getTileGrid(0, t, &buf) < 0) die("getTileGrid");
        *bytes += static_cast<size_t>(g.nlat_per_tile * g.nlon_per_tile * 2);
        map->cleanCache(0, 0);
    }
    return wall_now() - t0;
}

// Seconds zlib alone takes to inflate every payload of the map.
double zlib_inflate_alone(Orvex *map)
{
    const OrvexResolution &r = map->frame.resolutions[0];
    const OrvexGrid &g = *static_cast<OrvexGrid *>(r.data);
    std::vector<unsigned char> out(static_cast<size_t>(g.nlat_per_tile * g.nlon_per_tile * 2));
    double t0 = wall_now();
    for (int t = 0; t < r.ntiles; t++) {
        uLongf n = out.size();
        if (uncompress(out.data(), &n, g.tiles[t].buf, g.tiles[t].nbuf) != Z_OK) die("uncompress");
    }
    return wall_now() - t0;
}

// `count` look-ups at random points of the whole grid (a generator of its
// own per salt), every tile already cached. Returns the checksum.
long random_lookups(Orvex *map, unsigned salt, long count)
{
    OrvexResolution *r = &map->frame.resolutions[0];
    OrvexGrid *g = static_cast<OrvexGrid *>(r->data);
    double lat_span = g->nlat * g->dlat, lon_span = g->nlon * g->dlon;
    unsigned x = salt;
    long s = 0;
    for (long i = 0; i < count; i++) {
        x = x * 1103515245u + 12345u;
        double u = (x >> 8) / 16777216.0;
        x = x * 1103515245u + 12345u;
        double v = (x >> 8) / 16777216.0;
        double lat = g->lat_start + u * lat_span, lon = g->lon_start + v * lon_span;
        int tile;
        long tr, tc, pr, pc, off;
        map->findTile(r, lat, lon, &tile, &tr, &tc);
        map->findPixelWithinTile(r, g, tr, tc, lat, lon, &pr, &pc, &off);
        unsigned char *buf;
        if (tile < 0 || off < 0 || map->getTileGrid(0, tile, &buf) < 0) continue;
        short z;
        memcpy(&z, buf + off, 2);
        s += z;
    }
    return s;
}

// Million warm random look-ups per second on `threads` threads at once
// (each making `count`), best of five.
double random_lookup_rate(Orvex *map, int threads, long count, long *sum)
{
    double best = 1e30;
    for (int k = 0; k < kRuns; k++) {
        std::vector<std::thread> pool;
        std::vector<long> sums(static_cast<size_t>(threads));
        double t0 = wall_now();
        for (int i = 0; i < threads; i++)
            pool.emplace_back([&, i] { sums[static_cast<size_t>(i)] = random_lookups(map, 7 + i, count); });
        for (std::thread &t : pool) t.join();
        double t = wall_now() - t0;
        best = t < best ? t : best;
        for (long v : sums) *sum += v;
    }
    return threads * count / best / 1e6;
}

}  // namespace

int main(int argc, char **argv)
{
    long nlat = argc > 2 ? atol(argv[1]) : 5400, nlon = argc > 2 ? atol(argv[2]) : 10800;
    if (nlat % 40 || nlon % 80) {
        fprintf(stderr, "bench_grid: nlat must be a multiple of 40 and nlon of 80\n");
        return 2;
    }
    TempDir dir;
    std::string src = dir.path("bench.dem");
    {
        std::vector<int16_t> z = grid_terrain(nlat, nlon, 11);
        long sea = 0;
        for (int16_t v : z) sea += v == -9999;
        grid_write_dem(src, z, nlat, nlon, -90, 180.0 / nlat, -180, 360.0 / nlon, false);
        printf("source: %ld x %ld elevations, %.1f MB, %.0f%% no-data sea\n", nlat, nlon,
               nlat * nlon * 2 / 1e6, 100.0 * sea / static_cast<double>(z.size()));
    }
    Orvex in;
    if (in.setInput(src.c_str(), 0, nullptr) < 0) die("setInput(source)");
    const double source_mb = nlat * nlon * 2 / 1e6;

    Orvex probe;  // a declared output of 50 tiles, to learn the thread count
    if (probe.setOutput(dir.path("probe.orx").c_str()) < 0 ||
        probe.setResolutionHdrGrid(&in, 0, 0, 1, 1, 5, 10, "p", "p") < 0)
        die("declaring the probe");
    printf("\nbuilding one compressed resolution of 5 x 10 tiles, %d worker threads "
           "(%ld processors online)\n",
           orvex_grid_worker_count(&probe), sysconf(_SC_NPROCESSORS_ONLN));
    printf("%4s %10s %10s %10s %10s %10s %10s %12s %12s %12s\n", "dec", "lib wall", "lib cpu",
           "lib MB/s", "1-thr cpu", "lit wall", "lit cpu", "lit/lib wall", "lit/1-thr", "1-thr/zlib");
    for (long dec : {1L, 2L, 4L, 8L}) {
        std::string lib = dir.path("lib.orx"), one = dir.path("one.orx"), ref = dir.path("ref.orx");
        Times tl, to, tr;
        double tz = 1e30;
        size_t raw = 0;
        for (int k = 0; k < kRuns; k++) {
            tl.keep(build(&in, lib, dec, kLibrary));
            to.keep(build(&in, one, dec, kLibraryOneThread));
            double t = zlib_alone(lib, &raw);
            tz = t < tz ? t : tz;
            tr.keep(build(&in, ref, dec, kLiteral));
        }
        printf("%4ld %10.3f %10.3f %10.1f %10.3f %10.3f %10.3f %11.2fx %11.2fx %11.2fx\n", dec, tl.wall,
               tl.cpu, source_mb / tl.wall, to.cpu, tr.wall, tr.cpu, tr.wall / tl.wall, tr.cpu / to.cpu,
               to.cpu / tz);
        printf("     zlib alone: %.3f s for %.1f MB of output samples (%.1f MB/s)\n", tz, raw / 1e6,
               raw / 1e6 / tz);
        if (dec == 1) rename(lib.c_str(), dir.path("dec1.orx").c_str());
    }
    unlink(dir.path("one.orx").c_str());
    unlink(dir.path("ref.orx").c_str());

    // The same without compression: the sampling loop and the writes alone.
    printf("\nthe same resolution uncompressed (sampling and writing only)\n");
    printf("%4s %10s %10s %10s %10s %12s %12s\n", "dec", "lib wall", "1-thr cpu", "lit wall", "lit cpu",
           "lit/lib wall", "lit/1-thr");
    for (long dec : {1L, 2L, 4L, 8L}) {
        std::string lib = dir.path("libu.orx"), one = dir.path("oneu.orx"), ref = dir.path("refu.orx");
        Times tl, to, tr;
        for (int k = 0; k < kRuns; k++) {
            tl.keep(build(&in, lib, dec, kLibrary, 0));
            to.keep(build(&in, one, dec, kLibraryOneThread, 0));
            tr.keep(build(&in, ref, dec, kLiteral, 0));
        }
        printf("%4ld %10.3f %10.3f %10.3f %10.3f %11.2fx %11.2fx\n", dec, tl.wall, to.cpu, tr.wall, tr.cpu,
               tr.wall / tl.wall, tr.cpu / to.cpu);
    }
    unlink(dir.path("libu.orx").c_str());
    unlink(dir.path("oneu.orx").c_str());
    unlink(dir.path("refu.orx").c_str());

    // Reading: the dec 1 map, and a map of small tiles for 1000 cached tiles.
    std::string small = dir.path("small.orx");
    {
        Orvex out;
        if (out.setOutput(small.c_str()) < 0) die("setOutput(small)");
        if (out.setResolutionHdrGrid(&in, 0, 0, 1, 1, 40, 80, "small", "small") < 0) die("declare small");
        if (out.writeDataGrid(1, 0) < 0) die("write small");
    }
    Orvex map, tiles;
    if (map.setInput(dir.path("dec1.orx").c_str(), 0, nullptr) < 0) die("setInput(dec1)");
    if (tiles.setInput(small.c_str(), 0, nullptr) < 0) die("setInput(small)");

    printf("\nreading\n");
    unsigned char *buf;
    map.cleanCache(0, 1);
    if (map.getTileGrid(0, 0, &buf) < 0) die("getTileGrid");
    const long hits = 20000000;
    double t0 = now();
    for (long i = 0; i < hits; i++) map.getTileGrid(0, 0, &buf);
    double hit_ns = (now() - t0) / hits * 1e9;
    printf("cache hit of getTileGrid, 1 tile cached:     %6.1f ns\n", hit_ns);

    const OrvexResolution &sr = tiles.frame.resolutions[0];
    const OrvexGrid &sg = *static_cast<OrvexGrid *>(sr.data);
    // 1000 tiles: 12.5 rows of 80 tiles; take 12 rows and 40 tiles of the next.
    map.cleanCache(0, 1);
    for (int t = 0; t < 1000; t++)
        if (tiles.getTileGrid(0, t, &buf) < 0) die("filling the cache");
    printf("tiles cached: %d (%.1f MB)\n", orvex_cache_count(), orvex_cache_bytes() / 1e6);
    t0 = now();
    for (long i = 0; i < hits; i++) tiles.getTileGrid(0, static_cast<int>((i * 7919) % 1000), &buf);
    printf("cache hit of getTileGrid, 1000 tiles cached: %6.1f ns (tiles visited in scattered order)\n",
           (now() - t0) / hits * 1e9);

    long sum = 0;
    // One tile cached: a raster over tile 0 of the dec 1 map, repeated.
    map.cleanCache(0, 1);
    const OrvexGrid &mg = *static_cast<OrvexGrid *>(map.frame.resolutions[0].data);
    long rows = mg.nlat_per_tile, cols = mg.nlon_per_tile, reps = 10;
    double t = 0;
    for (long k = 0; k < reps; k++) t += lookups(&map, 0, mg.lat_start, mg.lon_start, rows, cols, &sum);
    printf("point look-ups, 1 tile cached:     %6.1f million/s (%ld points)\n",
           rows * cols * reps / t / 1e6, rows * cols * reps);
    printf("tiles cached: %d\n", orvex_cache_count());

    // 1000 tiles cached: a raster over the first 12 rows of tiles (960 tiles)
    // and 40 tiles of the 13th, every cached tile visited.
    map.cleanCache(0, 1);
    for (int k = 0; k < 1000; k++) tiles.getTileGrid(0, k, &buf);
    long prow = sg.nlat_per_tile * 12, pcol = sg.nlon_per_tile * 80;
    t = lookups(&tiles, 0, sg.lat_start, sg.lon_start, prow, pcol, &sum);
    double t2 = lookups(&tiles, 0, sg.lat_start + prow * sg.dlat, sg.lon_start, sg.nlat_per_tile,
                        sg.nlon_per_tile * 40, &sum);
    long points = prow * pcol + sg.nlat_per_tile * sg.nlon_per_tile * 40;
    printf("point look-ups, 1000 tiles cached: %6.1f million/s (%ld points)\n", points / (t + t2) / 1e6,
           points);
    printf("tiles cached: %d\n", orvex_cache_count());

    // Reading every tile of the dec 1 map, inflating each.
    map.cleanCache(0, 1);
    double tread = 1e30, tzlib = 1e30;
    size_t read_bytes = 0;
    for (int k = 0; k < kRuns; k++) {
        double a = read_every_tile(&map, &read_bytes), b = zlib_inflate_alone(&map);
        tread = a < tread ? a : tread;
        tzlib = b < tzlib ? b : tzlib;
    }
    printf("reading every tile of the dec 1 map: %7.1f MB/s of samples (zlib alone inflating: %.1f MB/s)\n",
           read_bytes / 1e6 / tread, read_bytes / 1e6 / tzlib);

    // Warm random look-ups over a map of 20 x 40 tiles, all cached.
    std::string medium = dir.path("medium.orx");
    {
        Orvex out;
        if (out.setOutput(medium.c_str()) < 0) die("setOutput(medium)");
        if (out.setResolutionHdrGrid(&in, 0, 0, 1, 1, 20, 40, "medium", "medium") < 0) die("declare medium");
        if (out.writeDataGrid(1, 0) < 0) die("write medium");
    }
    Orvex mid;
    if (mid.setInput(medium.c_str(), 0, nullptr) < 0) die("setInput(medium)");
    map.cleanCache(0, 1);
    for (int k = 0; k < mid.frame.resolutions[0].ntiles; k++)
        if (mid.getTileGrid(0, k, &buf) < 0) die("filling the cache");
    const long kLookups = 1000000;
    double one = random_lookup_rate(&mid, 1, kLookups, &sum), two = random_lookup_rate(&mid, 2, kLookups, &sum);
    printf("warm random look-ups, %d tiles cached: %6.1f million/s on 1 thread, %6.1f million/s on 2 "
           "(%ld each)\n",
           orvex_cache_count(), one, two, kLookups);
    printf("(checksum %ld)\n", sum);
    return 0;
}
