// Raw grid inputs: a headerless file of colour pixels (rgb) or 16-bit
// elevations (dem, big-endian when the parameter file says so), described
// by its parameter file. The scan builds one grid resolution whose one
// uncompressed tile is the mapped file itself; no sample is read or copied.

#include <math.h>
#include <stdlib.h>

#include "OrvexInternal.h"

namespace {

// The geometry read from the parameter file.
struct RawGeometry {
    double lat = 0.0;
    double dlat = 0.0;
    double lon = 0.0;
    double dlon = 0.0;
    int nlat = 0;
    int nlon = 0;
    int bigendian = 0;
};

// The scan's message for a key it cannot use: refused when the file gives
// it (the toolkit has already said what was wrong with the value), not
// found when it does not.
void key_unusable(Pf *pf, const char *key)
{
    if (pfget_string(pf, key))
        orvex_register_error(0, "Orvex::scanInput: refused the value of %s in parameter file.\n", key);
    else
        orvex_register_error(0, "Orvex::scanInput: Cannot find %s in parameter file.\n", key);
}

bool read_key(Pf *pf, const char *key, int kind, int required, void *value)
{
    if (parse_param(pf, key, kind, required, value) >= 0) return true;
    key_unusable(pf, key);
    return false;
}

// A value that parsed but cannot describe a grid is refused, after the
// toolkit's message naming the file, the key and the value.
bool usable(Pf *pf, const char *key, bool ok, const char *why)
{
    if (ok) return true;
    pf_refuse(pf, key, why);
    key_unusable(pf, key);
    return false;
}

// A step of a colour grid: "dlat" when it is given and not zero, else the
// reciprocal of the density "pplat" (likewise for longitude). A negative
// density is a negative step: rows running south, columns west.
bool read_step_or_density(Pf *pf, const char *step_key, const char *density_key, double *step)
{
    *step = 0.0;
    if (!read_key(pf, step_key, PF_DOUBLE, 0, step)) return false;
    if (*step != 0.0) return true;
    double density = 0.0;
    if (!read_key(pf, density_key, PF_DOUBLE, 1, &density) ||
        !usable(pf, density_key, isfinite(density) && density != 0.0 && isfinite(1.0 / density),
                "not a finite, non-zero number of samples per degree"))
        return false;
    *step = 1.0 / density;
    return true;
}

bool read_step(Pf *pf, const char *key, double *step)
{
    return read_key(pf, key, PF_DOUBLE, 1, step) && usable(pf, key, *step != 0.0, "a step of zero");
}

bool read_latitude(Pf *pf, double *lat)
{
    return read_key(pf, "lat", PF_DOUBLE, 1, lat) &&
           usable(pf, "lat", *lat >= -90.0 && *lat <= 90.0, "not a latitude from -90 to 90");
}

bool read_longitude(Pf *pf, double *lon)
{
    return read_key(pf, "lon", PF_DOUBLE, 1, lon) &&
           usable(pf, "lon", *lon >= -360.0 && *lon <= 360.0, "not a longitude from -360 to 360");
}

// Rounding of the steps written in a parameter file (1/12 as
// 0.083333333333333) must not refuse a grid that ends exactly at a pole or
// spans exactly one turn.
const double kSlack = 1e-6;

// The rows must be at least one and end no further than a pole.
bool read_rows(Pf *pf, RawGeometry *g)
{
    if (!read_key(pf, "nlat", PF_INT, 1, &g->nlat) ||
        !usable(pf, "nlat", g->nlat > 0, "not a positive number of rows"))
        return false;
    double last = g->lat + (g->nlat - 1.0) * g->dlat;
    return usable(pf, "nlat", last >= -90.0 - kSlack && last <= 90.0 + kSlack,
                  "the last row would lie beyond a pole");
}

// The columns must be at least one and span no more than one turn (a
// repeated first column at the end is common and allowed).
bool read_columns(Pf *pf, RawGeometry *g)
{
    if (!read_key(pf, "nlon", PF_INT, 1, &g->nlon) ||
        !usable(pf, "nlon", g->nlon > 0, "not a positive number of columns"))
        return false;
    double span = (g->nlon - 1.0) * fabs(g->dlon);
    return usable(pf, "nlon", span <= 360.0 + kSlack, "the columns would span more than 360 degrees");
}

bool read_rgb_geometry(Pf *pf, RawGeometry *g)
{
    return read_latitude(pf, &g->lat) && read_step_or_density(pf, "dlat", "pplat", &g->dlat) &&
           read_longitude(pf, &g->lon) && read_step_or_density(pf, "dlon", "pplon", &g->dlon) &&
           read_rows(pf, g) && read_columns(pf, g);
}

bool read_dem_geometry(Pf *pf, RawGeometry *g)
{
    g->bigendian = 0;
    return read_latitude(pf, &g->lat) && read_step(pf, "dlat", &g->dlat) && read_longitude(pf, &g->lon) &&
           read_step(pf, "dlon", &g->dlon) && read_rows(pf, g) && read_columns(pf, g) &&
           read_key(pf, "bigendian", PF_YESNO, 0, &g->bigendian);
}

// The samples the parameter file announces must all lie inside the file,
// so that no reader of the one tile can reach past the mapping. The counts
// are positive here.
bool samples_fit_file(const Orvex *object, const RawGeometry &g, long sample_size)
{
    const char *path = object->fname ? object->fname : "(unnamed)";
    // Below 2^64 for any two ints and 3 bytes a sample.
    unsigned long needed = static_cast<unsigned long>(g.nlat) * static_cast<unsigned long>(g.nlon) *
                           static_cast<unsigned long>(sample_size);
    if (object->file_size < 0 || needed > static_cast<unsigned long>(object->file_size)) {
        orvex_register_error(0,
                             "Orvex::scanInput: %s: file of %ld bytes is shorter than nlat %d x "
                             "nlon %d x %ld bytes per sample = %lu bytes.\n",
                             path, object->file_size, g.nlat, g.nlon, sample_size, needed);
        return false;
    }
    return true;
}

void fill_resolution(const Orvex *object, const RawGeometry &g, long data_type,
                     OrvexResolution *res)
{
    OrvexSource &src = res->source;
    orvex_copy_name(src.fname, sizeof src.fname, object->fname);
    src.data_type = data_type;
    src.map_type = ORVEX_MAP_GRID;
    src.lon_start = g.lon;
    src.dlon = g.dlon;
    src.lat_start = g.lat;
    src.dlat = g.dlat;
    src.nlon = g.nlon;
    src.nlat = g.nlat;
    res->data_type = data_type;
    res->map_type = ORVEX_MAP_GRID;
    res->degrees_per_pixel = g.dlat < 0 ? -g.dlat : g.dlat;
    res->lon_start_tiles = g.lon;
    res->lat_start_tiles = g.lat;
    res->dlon_tiles = g.nlon * g.dlon;
    res->dlat_tiles = g.nlat * g.dlat;
    res->nlon_tiles = 1;
    res->nlat_tiles = 1;
    res->ntiles = 1;
}

void fill_grid(const RawGeometry &g, long content, OrvexGrid *grid)
{
    grid->decimation_factor = 1;
    grid->compressed = 0;
    grid->content = content;
    grid->lon_start = g.lon;
    grid->dlon = g.dlon;
    grid->lat_start = g.lat;
    grid->dlat = g.dlat;
    grid->nlon = g.nlon;
    grid->nlat = g.nlat;
    grid->nlon_per_tile = g.nlon;
    grid->nlat_per_tile = g.nlat;
}

// Builds the one resolution, its grid and its one tile. After an allocation
// failure the frame keeps what was already attached, for teardown.
int build_frame(Orvex *object, const RawGeometry &g, long data_type, long content,
                long sample_size)
{
    OrvexResolution *res = orvex_new_scan_resolution(object);
    if (!res) return -1;

    OrvexGrid *grid = static_cast<OrvexGrid *>(orvex_calloc(1, sizeof(OrvexGrid)));
    if (!grid) {
        orvex_register_error(1, "Orvex::scanInput: malloc(grid) error.\n");
        return -1;
    }
    res->map_type = ORVEX_MAP_GRID;  // so that teardown releases the grid
    res->data = grid;
    fill_resolution(object, g, data_type, res);
    fill_grid(g, content, grid);

    OrvexGridTile *tile = static_cast<OrvexGridTile *>(orvex_calloc(1, sizeof(OrvexGridTile)));
    if (!tile) {
        orvex_register_error(1, "Orvex::scanInput: malloc(tile) error.\n");
        return -1;
    }
    grid->tiles = tile;
    tile->nbuf = static_cast<unsigned long>(g.nlon) * static_cast<unsigned long>(g.nlat) *
                 static_cast<unsigned long>(sample_size);
    tile->buf = object->file_stream;
    return 0;
}

}  // namespace

int orvex_scan_raw_grid(Orvex *object, int type, Pf *pf)
{
    RawGeometry g;
    long data_type, content, sample_size;
    if (type == ORVEX_DATA_RGB) {
        if (!read_rgb_geometry(pf, &g)) return -1;
        data_type = ORVEX_DATA_RGB;
        content = 0;
        sample_size = 3;
    } else {
        if (!read_dem_geometry(pf, &g)) return -1;
        data_type = g.bigendian ? ORVEX_DATA_DEMB : ORVEX_DATA_DEM;
        content = 1;
        sample_size = 2;
    }
    if (!samples_fit_file(object, g, sample_size)) return -1;
    return build_frame(object, g, data_type, content, sample_size);
}
