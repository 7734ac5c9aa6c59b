#include "map_bytes.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace orvex_test {

MapBytes &MapBytes::raw(const void *data, size_t n)
{
    const unsigned char *p = static_cast<const unsigned char *>(data);
    bytes.insert(bytes.end(), p, p + n);
    return *this;
}

MapBytes &MapBytes::zeros(size_t n)
{
    bytes.insert(bytes.end(), n, 0);
    return *this;
}

void MapBytes::patch64(size_t position, int64_t v)
{
    memcpy(&bytes.at(position), &v, 8);
}

MapBytes &MapBytes::header(int64_t nresolutions, const char *magic)
{
    raw(magic, 8);
    return i64(nresolutions);
}

MapBytes &MapBytes::resolution(int64_t map_type, int64_t nlon_tiles, int64_t nlat_tiles,
                               int64_t ntiles, const char *name)
{
    OrvexResolution r;
    snprintf(r.source.fname, sizeof r.source.fname, "/data/source.dem");
    r.source.data_type = 2;
    r.source.map_type = map_type;
    r.source.lon_start = -180;
    r.source.dlon = 0.5;
    r.source.lat_start = 90;
    r.source.dlat = -0.5;
    r.source.nlon = 720;
    r.source.nlat = 360;
    r.data_type = 0;
    r.map_type = map_type;
    snprintf(r.name, sizeof r.name, "%s", name);
    snprintf(r.resolution, sizeof r.resolution, "half degree");
    r.degrees_per_pixel = 0.5;
    r.lon_start_tiles = -180;
    r.lat_start_tiles = 90;
    r.dlon_tiles = nlon_tiles > 0 ? 360.0 / static_cast<double>(nlon_tiles) : 0;
    r.dlat_tiles = nlat_tiles > 0 ? -180.0 / static_cast<double>(nlat_tiles) : 0;
    r.nlon_tiles = nlon_tiles;
    r.nlat_tiles = nlat_tiles;
    r.ntiles = ntiles >= 0 ? ntiles : nlon_tiles * nlat_tiles;
    return raw(&r, offsetof(OrvexResolution, data));
}

MapBytes &MapBytes::gridHeader(int64_t nlon_per_tile, int64_t nlat_per_tile, int64_t compressed,
                               int64_t content)
{
    OrvexGrid g;
    g.decimation_factor = 1;
    g.compressed = compressed;
    g.content = content;
    g.lon_start = -180;
    g.dlon = 0.5;
    g.lat_start = 90;
    g.dlat = -0.5;
    g.nlon = nlon_per_tile;
    g.nlat = nlat_per_tile;
    g.nlon_per_tile = nlon_per_tile;
    g.nlat_per_tile = nlat_per_tile;
    return raw(&g, offsetof(OrvexGrid, tiles));
}

MapBytes &MapBytes::gridTile(int64_t zmin, int64_t zmax, uint64_t nbuf, int64_t offset)
{
    i64(zmin);
    i64(zmax);
    raw(&nbuf, 8);
    return i64(offset);
}

MapBytes &MapBytes::vectorHeader(double lonmin, double lonmax, double latmin, double latmax)
{
    f64(lonmin);
    f64(lonmax);
    f64(latmin);
    return f64(latmax);
}

MapBytes &MapBytes::vectorTile(int64_t fill, int64_t nsegments)
{
    vectorHeader(-10, 10, -5, 5);
    i64(fill);
    return i64(nsegments);
}

MapBytes &MapBytes::segment(int32_t level, int32_t fill, int64_t npts, int64_t offset)
{
    i32(level);
    i32(fill);
    i32(-10000000);
    i32(10000000);
    i32(-5000000);
    i32(5000000);
    i64(npts);
    return i64(offset);
}

std::vector<unsigned char> sampleMapFile()
{
    // Layout: header 16; grid resolution 16..863, grid header ..967,
    // entries 968 and 1000; vector resolution 1032..1879, vector header
    // ..1911, tile ..1959, segments ..2039; unknown resolution ..2887;
    // payloads: tile 0 (2x2 samples, 8 bytes) at 2888, tile 1 at 2896,
    // points 3 at 2904, 2 at 2928.
    MapBytes m;
    m.header(3);
    m.resolution(0, 2, 1).gridHeader(2, 2).gridTile(1, 4, 8, 2888).gridTile(-9999, -9999, 8, 2896);
    m.resolution(1, 1, 1).vectorHeader(-10, 10, -5, 5).vectorTile(1, 2);
    m.segment(1, 1, 3, 2904).segment(2, 1, 2, 2928);
    m.resolution(7, 1, 1);
    int16_t samples[8] = {1, 2, 3, 4, -9999, -9999, -9999, -9999};
    m.raw(samples, sizeof samples);
    int32_t pts[10] = {0, 0, 1000000, 0, 1000000, 1000000, 179900000, 0, 180100000, 0};
    m.raw(pts, sizeof pts);
    return m.bytes;
}

}  // namespace orvex_test
