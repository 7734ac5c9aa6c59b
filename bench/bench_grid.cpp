// Grid building and reading figures, all measured side by side in one run
// on a generated elevation grid (terrain plus a no-data sea over about half
// of it):
//  - build throughput (source MB/s) of one compressed resolution at dec 1,
//    2, 4 and 8, by the library and by the literal sampling loop of the
//    tests, and zlib alone deflating the same output bytes at the default
//    level;
//  - the cost of a cache hit of getTileGrid;
//  - warm point look-ups per second (findTile + findPixelWithinTile +
//    getTileGrid + reading the sample), with 1 and with 1000 tiles cached.
//
// Times are processor seconds of this process (system calls included),
// each the best of three interleaved runs, as the machine may be shared.
//
// Usage: bench_grid [nlat nlon]   (default 5400 10800)

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "OrvexInternal.h"
#include "grid_reference.h"
#include "grid_terrain.h"

namespace {

// Processor time of this (single-threaded) process, system time included:
// on a machine shared with other work it is far steadier than wall time.
double now()
{
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

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

// Declares one resolution of 5 x 10 tiles (compressed unless asked) and writes it with the
// library or the literal loop. Returns the seconds the tile writing took.
double build(Orvex *in, const std::string &out_path, long dec, bool reference, int compressed = 1)
{
    unlink(out_path.c_str());
    Orvex out;
    if (out.setOutput(out_path.c_str()) < 0) die("setOutput");
    if (out.setResolutionHdrGrid(in, 0, 0, dec, compressed, 5, 10, "bench", "bench") < 0)
        die("setResolutionHdrGrid");
    double t0 = now();
    int rc = reference ? grid_reference_write_all(&out, 1, 0) : out.writeDataGrid(1, 0);
    double t = now() - t0;
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

    printf("\nbuilding one compressed resolution of 5 x 10 tiles\n");
    printf("%4s %12s %12s %12s %12s %14s %14s\n", "dec", "library s", "library MB/s", "literal s",
           "literal MB/s", "literal/lib", "lib/zlib alone");
    for (long dec : {1L, 2L, 4L, 8L}) {
        std::string lib = dir.path("lib.orx"), ref = dir.path("ref.orx");
        double tl = 1e30, tz = 1e30, tr = 1e30;
        size_t raw = 0;
        for (int k = 0; k < 3; k++) {
            double t = build(&in, lib, dec, false);
            tl = t < tl ? t : tl;
            t = zlib_alone(lib, &raw);
            tz = t < tz ? t : tz;
            t = build(&in, ref, dec, true);
            tr = t < tr ? t : tr;
        }
        printf("%4ld %12.3f %12.1f %12.3f %12.1f %13.2fx %13.2fx\n", dec, tl, source_mb / tl, tr,
               source_mb / tr, tr / tl, tl / tz);
        printf("     zlib alone: %.3f s for %.1f MB of output samples (%.1f MB/s)\n", tz, raw / 1e6,
               raw / 1e6 / tz);
        if (dec == 1) rename(lib.c_str(), dir.path("dec1.orx").c_str());
    }

    // The same without compression: the sampling loop and the writes alone.
    printf("\nthe same resolution uncompressed (sampling and writing only)\n");
    printf("%4s %12s %12s %14s\n", "dec", "library s", "literal s", "literal/lib");
    for (long dec : {1L, 2L, 4L, 8L}) {
        std::string lib = dir.path("libu.orx"), ref = dir.path("refu.orx");
        double tl = 1e30, tr = 1e30;
        for (int k = 0; k < 3; k++) {
            double t = build(&in, lib, dec, false, 0);
            tl = t < tl ? t : tl;
            t = build(&in, ref, dec, true, 0);
            tr = t < tr ? t : tr;
        }
        printf("%4ld %12.3f %12.3f %13.2fx\n", dec, tl, tr, tr / tl);
    }
    unlink(dir.path("libu.orx").c_str());
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
    printf("(checksum %ld)\n", sum);
    return 0;
}
