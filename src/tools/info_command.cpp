// orvex info [MAP]: every resolution of a map (or any input the library
// opens) with its source, lattice, tiling, compression and contents.
#include <stdio.h>

#include <memory>
#include <string.h>

#include <map>

#include "commands.h"
#include "common.h"
#include "raster_input.h"

namespace orvexcli {

namespace {

const char kHelp[] =
    "Usage: orvex info [MAP]\n"
    "\n"
    "Describes every resolution of a map file: number, name, label, grid or\n"
    "vector, source file and type, lattice, tile size, decimation, compression,\n"
    "payload bytes and ratio, elevation range, segment and point counts.\n"
    "Without MAP the default map (maps/orx/default.orx in the data folder) is\n"
    "described. MAP may also be a raw grid (.dem, .rgb), a GSHHS file or any\n"
    "raster GDAL reads (GeoTIFF, netCDF...), described as 'orvex build' reads it.\n";

void print_source(const OrvexSource &s)
{
    printf("  Source: %s (%s %s", field_text(s.fname, sizeof s.fname).c_str(), datatype_name(s.data_type).c_str(),
           maptype_name(s.map_type).c_str());
    if (s.map_type == ORVEX_MAP_GRID)
        printf(", %ld x %ld samples, origin lon %.6g lat %.6g, spacing %.6g x %.6g", s.nlon, s.nlat,
               s.lon_start, s.lat_start, s.dlon, s.dlat);
    else
        printf(", extent lon %.6g to %.6g, lat %.6g to %.6g", s.lon_start, s.lon_start + s.dlon,
               s.lat_start, s.lat_start + s.dlat);
    printf(")\n");
}

void print_lattice(const OrvexResolution &r)
{
    printf("  Lattice: %ld x %ld tiles (rows x columns), origin lon %.6g lat %.6g, tile %.6g x %.6g degrees\n",
           r.nlat_tiles, r.nlon_tiles, r.lon_start_tiles, r.lat_start_tiles, r.dlon_tiles, r.dlat_tiles);
}

/* Raw grids (and rasters read through GDAL, which become raw grids)
 * record no elevation range: their index entry holds zeros. Small ones are
 * read to give it; above this many bytes the command says so instead. */
const long kRangeReadBytes = 64L << 20;

void print_unrecorded_range(Orvex &map, long index, const OrvexResolution &r, const OrvexGrid &g)
{
    long bytes = tile_bytes(g);
    unsigned char *samples = nullptr;
    if (bytes < 0 || bytes > kRangeReadBytes || r.ntiles != 1 || map.getTileGrid(static_cast<int>(index), 0, &samples) != 0) {
        elog_clear_register(0);
        printf("  Elevation: range not recorded (a raw grid records none)\n");
        return;
    }
    bool big = r.data_type == ORVEX_DATA_DEMB;
    long zmin = ORVEX_NODATA, zmax = ORVEX_NODATA;
    for (long k = 0; k + 1 < bytes; k += 2) {
        const unsigned char *p = samples + k;
        long z = static_cast<short>(big ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]));
        if (z == ORVEX_NODATA) continue;
        if (zmin == ORVEX_NODATA || z < zmin) zmin = z;
        if (zmax == ORVEX_NODATA || z > zmax) zmax = z;
    }
    if (zmin == ORVEX_NODATA) printf("  Elevation: no sample holds data (read from the samples)\n");
    else printf("  Elevation: %ld to %ld (read from the samples; a raw grid records no range)\n", zmin, zmax);
}

void print_grid(Orvex &map, long index, const OrvexResolution &r, const OrvexGrid &g)
{
    printf("  Grid: %ld x %ld samples (columns x rows), tile %ld x %ld samples, %s\n", g.nlon, g.nlat,
           g.nlon_per_tile, g.nlat_per_tile, g.content == 1 ? "elevation (2 bytes)" : "colour (3 bytes)");
    printf("  Spacing: %.6g degrees per sample (%.6g x %.6g), decimation %ld\n", r.degrees_per_pixel, g.dlon,
           g.dlat, g.decimation_factor);
    unsigned long payload = 0;
    long written = 0, zmin = ORVEX_NODATA, zmax = ORVEX_NODATA;
    for (long t = 0; t < r.ntiles; t++) {
        const OrvexGridTile &tile = g.tiles[t];
        payload += tile.nbuf;
        if (tile.nbuf > 0) written++;
        if (tile.zmin != ORVEX_NODATA && (zmin == ORVEX_NODATA || tile.zmin < zmin)) zmin = tile.zmin;
        if (tile.zmax != ORVEX_NODATA && (zmax == ORVEX_NODATA || tile.zmax > zmax)) zmax = tile.zmax;
    }
    double raw = static_cast<double>(g.nlat_per_tile) * static_cast<double>(g.nlon_per_tile) *
                 (g.content == 1 ? 2.0 : 3.0) * static_cast<double>(r.ntiles);
    printf("  Compression: %s, payload %lu bytes of %.0f (ratio %.2f), %ld of %ld tiles written\n",
           g.compressed ? "deflate" : "none", payload, raw, payload ? raw / static_cast<double>(payload) : 0.0,
           written, r.ntiles);
    if (g.content == 1 && r.data_type != ORVEX_DATA_ORX) print_unrecorded_range(map, index, r, g);
    else if (g.content == 1) {
        if (zmin == ORVEX_NODATA && zmax == ORVEX_NODATA) printf("  Elevation: no range recorded\n");
        else printf("  Elevation: %ld to %ld\n", zmin, zmax);
    }
}

void print_vector(const OrvexResolution &r, const OrvexVector &v)
{
    printf("  Bounds: lon %.6g to %.6g, lat %.6g to %.6g; mean point spacing %.6g degrees\n", v.lonmin,
           v.lonmax, v.latmin, v.latmax, r.degrees_per_pixel);
    long segments = 0, points = 0, filled = 0;
    std::map<int, long> levels;
    for (long t = 0; t < r.ntiles; t++) {
        const OrvexVectorTile &tile = v.tiles[t];
        if (tile.fill) filled++;
        segments += tile.nsegments;
        for (long s = 0; s < tile.nsegments; s++) {
            points += tile.segments[s].npts;
            levels[tile.segments[s].level]++;
        }
    }
    printf("  Segments: %ld, points %ld, %ld of %ld tiles filled\n", segments, points, filled, r.ntiles);
    printf("  Levels:");
    for (const auto &kv : levels) printf(" %d (%ld)", kv.first, kv.second);
    printf("%s\n", levels.empty() ? " none" : "");
}

void print_resolution(Orvex &map, long index, const OrvexResolution &r)
{
    printf("Resolution %ld: name \"%s\", label \"%s\", %s, data type %s\n", index,
           field_text(r.name, sizeof r.name).c_str(), field_text(r.resolution, sizeof r.resolution).c_str(),
           maptype_name(r.map_type).c_str(), datatype_name(r.data_type).c_str());
    print_source(r.source);
    print_lattice(r);
    if (const OrvexGrid *g = grid_of(r)) print_grid(map, index, r, *g);
    if (const OrvexVector *v = vector_of(r)) print_vector(r, *v);
}

}  // namespace

int info_command(int argc, char **argv)
{
    if (wants_help(argc, argv)) {
        fputs(kHelp, stdout);
        return 0;
    }
    if (argc > 2) return usage_error("info", "too many arguments");
    if (argc == 2 && argv[1][0] == '-' && argv[1][1] != '\0') return usage_error("info", std::string("unknown option ") + argv[1]);
    std::unique_ptr<RasterGrid> raster; /* goes after the map that reads it */
    Orvex map;
    if (open_map_or_raster("info", argc == 2 ? argv[1] : nullptr, &map, &raster, false) != 0) return 1;
    if (raster)
        printf("Map: %s (a raster read through GDAL, %s)\n", argv[1], count_of(map.frame.nresolutions, "resolution").c_str());
    else
        printf("Map: %s (%ld bytes, %s)\n", map.fname, map.file_size, count_of(map.frame.nresolutions, "resolution").c_str());
    for (long i = 0; i < map.frame.nresolutions; i++) print_resolution(map, i, map.frame.resolutions[i]);
    return 0;
}

}  // namespace orvexcli
