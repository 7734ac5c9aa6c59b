// orvex query LAT LON [MAP]: for each resolution, the tile, the sample row
// and column and the elevation or colour there, or "outside".
#include <stdio.h>

#include <memory>

#include "args.h"
#include "commands.h"
#include "common.h"
#include "query.h"
#include "raster_input.h"

namespace orvexcli {

namespace {

const char kHelp[] =
    "Usage: orvex query LAT LON [MAP]\n"
    "\n"
    "For every resolution of the map, prints the tile holding the position\n"
    "(decimal degrees, latitude first), the lattice row and column of that tile,\n"
    "and for grids the sample nearest to the position (its row and column in the\n"
    "tile) and the elevation or colour there; \"outside\" when the resolution does\n"
    "not cover the position. Without MAP the default map is used; MAP may also\n"
    "be a raw grid, a GSHHS file or any raster GDAL reads (GeoTIFF, netCDF...),\n"
    "read as 'orvex build' reads it.\n";

void print_answer(const QueryAnswer &a)
{
    const Sample &s = a.sample;
    if (a.vector && a.tile >= 0) printf("tile %d (row %ld, column %ld), %ld segments\n", a.tile, a.tilerow, a.tilecol, a.segments);
    else if (!a.grid || s.tile < 0) printf("outside\n");
    else {
        printf("tile %d (row %ld, column %ld)", s.tile, s.tilerow, s.tilecol);
        if (!s.inside) printf(", outside the tile's samples\n");
        else if (!s.elevation) printf(", sample row %ld column %ld, colour %u %u %u\n", s.row, s.col, s.rgb[0], s.rgb[1], s.rgb[2]);
        else if (s.z == ORVEX_NODATA) printf(", sample row %ld column %ld, elevation no data\n", s.row, s.col);
        else printf(", sample row %ld column %ld, elevation %d\n", s.row, s.col, s.z);
    }
}

}  // namespace

int query_resolution(Orvex &map, int index, double lat, double lon, QueryAnswer *out)
{
    *out = QueryAnswer();
    const OrvexResolution &r = map.frame.resolutions[index];
    if (grid_of(r)) {
        out->grid = true;
        GridSampler sampler(&map, index);
        return sampler.sample(lat, lon, &out->sample);
    }
    const OrvexVector *v = vector_of(r);
    if (!v) return 0;
    out->vector = true;
    map.findTile(index, lat, lon, &out->tile, &out->tilerow, &out->tilecol);
    if (out->tile < 0 && covers_full_circle(r)) map.findTile(index, lat, lon - 360, &out->tile, &out->tilerow, &out->tilecol);
    if (out->tile >= 0) out->segments = v->tiles[out->tile].nsegments;
    return 0;
}

namespace {

/* A raster's grid holds no samples until asked: the one the answer names
 * is read through GDAL, and the answer made again. */
int query_raster(Orvex &map, RasterGrid &raster, double lat, double lon, QueryAnswer *out)
{
    if (query_resolution(map, 0, lat, lon, out) != 0) return -1;
    if (!out->grid || out->sample.tile < 0 || !out->sample.inside) return 0;
    if (raster.read_sample(out->sample.row, out->sample.col) != 0) return -1;
    return query_resolution(map, 0, lat, lon, out);
}

}  // namespace

int query_command(int argc, char **argv)
{
    if (wants_help(argc, argv)) {
        fputs(kHelp, stdout);
        return 0;
    }
    if (argc < 3 || argc > 4) return usage_error("query", "expected LAT LON [MAP]");
    double lat = 0, lon = 0;
    if (!orvextool::parse_double(argv[1], &lat) || lat < -90 || lat > 90)
        return usage_error("query", std::string("latitude '") + argv[1] + "' is not a number from -90 to 90");
    if (!orvextool::parse_double(argv[2], &lon) || lon < -360 || lon > 360)
        return usage_error("query", std::string("longitude '") + argv[2] + "' is not a number from -360 to 360");
    std::unique_ptr<RasterGrid> raster; /* goes after the map that reads it */
    Orvex map;
    if (open_map_or_raster("query", argc == 4 ? argv[3] : nullptr, &map, &raster, false) != 0) return 1;
    for (int i = 0; i < static_cast<int>(map.frame.nresolutions); i++) {
        const OrvexResolution &r = map.frame.resolutions[i];
        printf("Resolution %d \"%s\" (%s): ", i, field_text(r.name, sizeof r.name).c_str(), maptype_name(r.map_type).c_str());
        QueryAnswer answer;
        int rc = raster ? query_raster(map, *raster, lat, lon, &answer) : query_resolution(map, i, lat, lon, &answer);
        if (rc != 0) {
            printf("unreadable\n");
            fflush(stdout);
            return fail("query", "cannot read a tile of resolution " + std::to_string(i));
        }
        print_answer(answer);
    }
    return 0;
}

}  // namespace orvexcli
