// The library's side of the read benchmarks of the comparison with GDAL
// (see compare_read.h): the finest resolution (0) of a map file.
//  tiles    each thread opens the map itself, reads tiles with getTileGrid
//           as they come and drops each from the cache after summing it;
//  lookups  one map shared by every thread, all of its tiles cached first
//           (the cache is shared by every thread); findNearestPixel, then
//           getTileGrid and the sample.

#include <string.h>

#include <atomic>
#include <memory>
#include <string>

#include "Orvex.h"
#include "compare_read.h"

namespace {

// A bare name is a file here, not a map looked up in the data folders.
std::unique_ptr<Orvex> open_map(const char *path)
{
    std::string name = path[0] == '/' || path[0] == '.' ? path : std::string("./") + path;
    std::unique_ptr<Orvex> map(new Orvex);
    if (map->setInput(name.c_str(), 0, nullptr) < 0 || map->frame.nresolutions < 1 ||
        map->frame.resolutions[0].map_type != ORVEX_MAP_GRID) {
        fprintf(stderr, "compare_read_orvex: %s is no map file with a grid first\n", path);
        elog_print(stderr);
        exit(1);
    }
    return map;
}

SampleGrid grid_of(Orvex &map)
{
    const OrvexResolution &res = map.frame.resolutions[0];
    const OrvexGrid &g = *static_cast<const OrvexGrid *>(res.data);
    SampleGrid s;
    s.nrows = g.nlat_per_tile * res.nlat_tiles;
    s.ncols = g.nlon_per_tile * res.nlon_tiles;
    s.lat0 = g.lat_start;
    s.dlat = g.dlat;
    s.lon0 = g.lon_start;
    s.dlon = g.dlon;
    return s;
}

bool tile_failed(int tile)
{
    fprintf(stderr, "compare_read_orvex: tile %d of resolution 0 cannot be read\n", tile);
    elog_print(stderr);
    return false;
}

double read_tiles(const ReadJob &job, int64_t *checksum)
{
    std::vector<std::unique_ptr<Orvex>> maps;
    for (int t = 0; t < job.threads; t++) maps.push_back(open_map(job.path));
    const OrvexResolution &res = maps[0]->frame.resolutions[0];
    const OrvexGrid &g = *static_cast<const OrvexGrid *>(res.data);
    std::atomic<long> next{0};
    return compare_threads(job.threads, [&](int t, int64_t *sum) {
        Orvex &map = *maps[static_cast<size_t>(t)];
        for (long i; (i = next++) < res.ntiles;) {
            unsigned char *samples;
            if (map.getTileGrid(0, static_cast<int>(i), &samples) < 0) return tile_failed(static_cast<int>(i));
            *sum += compare_sum(reinterpret_cast<const int16_t *>(samples), g.nlat_per_tile,
                                g.nlon_per_tile, g.nlon_per_tile);
            map.cleanCache(0, 0);
        }
        return true;
    }, checksum);
}

double read_points(const ReadJob &job, int64_t *checksum)
{
    std::unique_ptr<Orvex> map = open_map(job.path);
    OrvexResolution *res = &map->frame.resolutions[0];
    for (long i = 0; i < res->ntiles; i++) {
        unsigned char *samples;
        if (map->getTileGrid(0, static_cast<int>(i), &samples) < 0) exit(tile_failed(static_cast<int>(i)));
    }
    std::vector<Position> points = compare_positions(grid_of(*map), job.count, job.salt);
    return compare_lookups(points, job.threads, [&](int, const Position &p, int16_t *z) {
        int tile;
        long row, col, offset;
        unsigned char *samples;
        map->findNearestPixel(res, p.lat, p.lon, &tile, &row, &col, &offset);
        if (tile < 0 || map->getTileGrid(0, tile, &samples) < 0) return tile_failed(tile);
        memcpy(z, samples + offset, 2);
        return true;
    }, checksum);
}

}  // namespace

int main(int argc, char **argv)
{
    ReadJob job;
    if (compare_parse(argc, argv, &job) < 0) return 2;
    int64_t checksum = 0;
    double seconds = job.lookups ? read_points(job, &checksum) : read_tiles(job, &checksum);
    std::unique_ptr<Orvex> map = open_map(job.path);
    compare_print(job, grid_of(*map), seconds, checksum);
    return 0;
}
