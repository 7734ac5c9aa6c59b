// Declaring a grid resolution of an output: the resolution record and grid
// header are derived from one tile of an input grid, a decimation factor
// and a tiling, appended to the model, and written at the end of the file
// followed by an all-zero tile index that the tile writer fills in later.

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "OrvexInternal.h"

namespace {

const char *const kWho = "Orvex::setResolutionHdrGrid";
const long kResolutionRecord = offsetof(OrvexResolution, data);  // 848 bytes on disk
const long kGridHeader = offsetof(OrvexGrid, tiles);             // 104 bytes on disk

// The input's resolution, its tile and the factors, checked in the order
// the declaration reports them. Returns 0 or -1 with a registered message.
int check_request(const char *who, Orvex *input, int input_resolution, int input_tile, long dec,
                  int nlat_tiles, int nlon_tiles)
{
    if (!input || input_resolution < 0 || input_resolution >= input->frame.nresolutions) {
        orvex_register_error(0, "%s: input resolution out of range\n", who);
        return -1;
    }
    const OrvexResolution &s = input->frame.resolutions[input_resolution];
    if (s.map_type != ORVEX_MAP_GRID || !s.data) {
        orvex_register_error(0, "%s: input map type must be grid\n", who);
        return -1;
    }
    if (input_tile < 0 || input_tile >= s.ntiles) {
        orvex_register_error(0, "%s: input tile out of range\n", who);
        return -1;
    }
    // Every division below needs these to be 1 or more.
    if (dec < 1) {
        orvex_register_error(0, "%s: decimation factor %ld must be at least 1\n", who, dec);
        return -1;
    }
    if (nlat_tiles < 1 || nlon_tiles < 1) {
        orvex_register_error(0, "%s: nlat_tiles %d and nlon_tiles %d must both be at least 1\n",
                             who, nlat_tiles, nlon_tiles);
        return -1;
    }
    const OrvexGrid &sg = *static_cast<const OrvexGrid *>(s.data);
    if (sg.nlon_per_tile < 1 || sg.nlat_per_tile < 1) {
        orvex_register_error(0, "%s: source tile of %ld x %ld samples holds nothing\n", who,
                             sg.nlat_per_tile, sg.nlon_per_tile);
        return -1;
    }
    return 0;
}

// The declared grid decimates the chosen input tile, so the tile's own size
// must be a whole number of windows.
int check_whole_windows(const OrvexGrid &sg, long dec)
{
    if (sg.nlon_per_tile % dec != 0) {
        orvex_register_error(
            0, "%s: decimation factor must be integer multiple of source width\n", kWho);
        return -1;
    }
    if (sg.nlat_per_tile % dec != 0) {
        orvex_register_error(
            0, "%s: decimation factor must be integer multiple of source height\n", kWho);
        return -1;
    }
    return 0;
}

// The most samples, a whole number per tile, that `n` source samples give
// at decimation `dec` over `ntiles` tiles; 0 when not even one per tile.
long fitted_samples(long n, long dec, long ntiles)
{
    return n / dec / ntiles * ntiles;
}

// The new resolution record R and grid header G, from the input resolution
// S (grid SG), the chosen input tile and the decimated size, nlat x nlon
// samples counted from the tile's corner.
void derive_records(const OrvexResolution &s, int input_tile, long dec, int compressed,
                    int nlat_tiles, int nlon_tiles, long nlat, long nlon, const char *name,
                    const char *resolution_string, OrvexResolution *r, OrvexGrid *g)
{
    const OrvexGrid &sg = *static_cast<const OrvexGrid *>(s.data);
    long ilat_tile = input_tile / s.nlon_tiles;
    long ilon_tile = input_tile - ilat_tile * s.nlon_tiles;

    g->decimation_factor = dec;
    g->compressed = compressed;
    g->content = sg.content;
    g->dlon = dec * sg.dlon;
    g->dlat = dec * sg.dlat;
    g->nlon = nlon;
    g->nlat = nlat;
    g->nlon_per_tile = g->nlon / nlon_tiles;
    g->nlat_per_tile = g->nlat / nlat_tiles;

    r->source = s.source;  // the raw source a chain of decimations began with
    r->data_type = ORVEX_DATA_ORX;
    r->map_type = ORVEX_MAP_GRID;
    orvex_copy_name(r->name, sizeof r->name, name);
    orvex_copy_name(r->resolution, sizeof r->resolution, resolution_string);
    r->degrees_per_pixel = dec * s.degrees_per_pixel;
    r->lon_start_tiles = s.lon_start_tiles + ilon_tile * s.dlon_tiles;
    r->lat_start_tiles = s.lat_start_tiles + ilat_tile * s.dlat_tiles;
    r->dlon_tiles = g->dlon * g->nlon / nlon_tiles;
    r->dlat_tiles = g->dlat * g->nlat / nlat_tiles;
    r->nlon_tiles = nlon_tiles;
    r->nlat_tiles = nlat_tiles;
    r->ntiles = static_cast<long>(nlat_tiles) * nlon_tiles;
    g->lon_start = r->lon_start_tiles;
    g->lat_start = r->lat_start_tiles;
}

int check_tiling(const OrvexGrid &g, int nlat_tiles, int nlon_tiles)
{
    if (g.nlon != nlon_tiles * g.nlon_per_tile) {
        orvex_register_error(0, "%s: tile factor must be integer multiple of decimated width\n",
                             kWho);
        return -1;
    }
    if (g.nlat != nlat_tiles * g.nlat_per_tile) {
        orvex_register_error(0, "%s: tile factor must be integer multiple of decimated height\n",
                             kWho);
        return -1;
    }
    return 0;
}

// What the readers take: tile numbers are ints, a tile's bytes fit the
// 64-bit sizes, and a compressed tile, inflated whole when read, stays
// within the inflate cap.
int check_tile_size(const OrvexResolution &r, const OrvexGrid &g)
{
    if (r.ntiles > INT_MAX) {
        orvex_register_error(0, "%s: %ld x %ld tiles make %ld, more than the %d a tile number counts\n", kWho,
                             r.nlat_tiles, r.nlon_tiles, r.ntiles, INT_MAX);
        return -1;
    }
    long sample = g.content == 1 ? 2 : 3, bytes = 0;
    if (__builtin_mul_overflow(g.nlat_per_tile, g.nlon_per_tile, &bytes) ||
        __builtin_mul_overflow(bytes, sample, &bytes)) {
        orvex_register_error(0, "%s: tiles of %ld x %ld samples hold more than the %ld bytes a tile may hold\n",
                             kWho, g.nlat_per_tile, g.nlon_per_tile, LONG_MAX);
        return -1;
    }
    if (g.compressed && static_cast<unsigned long>(bytes) > ORVEX_MAX_INFLATED_TILE) {
        orvex_register_error(0,
                             "%s: tiles of %ld x %ld samples hold %ld bytes, more than the %lu bytes a compressed "
                             "tile may hold: use more tiles, or no compression\n",
                             kWho, g.nlat_per_tile, g.nlon_per_tile, bytes, ORVEX_MAX_INFLATED_TILE);
        return -1;
    }
    return 0;
}

int report_io(int rc)
{
    return orvex_io_failure(kWho, rc);
}

// Writes the all-zero tile index and points every in-memory entry at the
// file positions of its own four fields.
int write_tile_index(int fd, OrvexGrid *g, long ntiles)
{
    g->tiles = static_cast<OrvexGridTile *>(orvex_calloc(static_cast<size_t>(ntiles), sizeof(OrvexGridTile)));
    if (!g->tiles) {
        orvex_register_error(1, "%s: malloc(tiles) error.\n", kWho);
        return -1;
    }
    const OrvexGridTile zero;
    for (long t = 0; t < ntiles; t++) {
        if (orvex_write_all(fd, &zero, sizeof zero) != ORVEX_IO_OK) return report_io(ORVEX_IO_WRITE);
        long end = orvex_tell(fd);
        if (end < 0) return report_io(ORVEX_IO_SEEK);
        OrvexGridTile &entry = g->tiles[t];
        entry.zmin = end - 32;
        entry.zmax = end - 24;
        entry.nbuf = static_cast<unsigned long>(end - 16);
        entry.buf = reinterpret_cast<unsigned char *>(end - 8);
    }
    return 0;
}

// Declares a grid of nlat x nlon decimated samples: the records are built,
// checked against the tiling, appended to the model and written, with the
// input registered for the new resolution.
int declare_grid(Orvex *o, Orvex *input, int input_resolution, int input_tile, long dec,
                 int compressed, int nlat_tiles, int nlon_tiles, long nlat, long nlon,
                 const char *name, const char *resolution_string)
{
    OrvexFrame &frame = o->frame;
    OrvexResolution r;
    OrvexGrid g;
    derive_records(input->frame.resolutions[input_resolution], input_tile, dec, compressed, nlat_tiles, nlon_tiles, nlat, nlon, name,
                   resolution_string, &r, &g);
    if (check_tiling(g, nlat_tiles, nlon_tiles) < 0 || check_tile_size(r, g) < 0) return -1;

    if (!orvex_grow_resolutions(frame, kWho)) return -1;
    OrvexGrid *grid = static_cast<OrvexGrid *>(orvex_sys_malloc(sizeof(OrvexGrid)));
    if (!grid) {
        orvex_register_error(1, "%s: malloc(grid) error.\n", kWho);
        return -1;
    }
    *grid = g;
    r.data = grid;
    long number = frame.nresolutions;
    frame.resolutions[number] = r;
    if (o->setInputArr(input, input_resolution, input_tile, static_cast<int>(number)) < 0) {
        // The record lies beyond the count, so teardown would not see it.
        free(grid);
        frame.resolutions[number].data = nullptr;
        orvex_register_error(0, "%s: setInputArr() error.\n", kWho);
        return -1;
    }
    frame.nresolutions = number + 1;

    long count = frame.nresolutions;
    int rc = orvex_write_at(o->fd, o->nresolutions_offset, &count, sizeof count);
    if (rc != ORVEX_IO_OK) return report_io(rc);
    if (orvex_write_all(o->fd, &r, kResolutionRecord) != ORVEX_IO_OK ||
        orvex_write_all(o->fd, grid, kGridHeader) != ORVEX_IO_OK)
        return report_io(ORVEX_IO_WRITE);
    if (write_tile_index(o->fd, grid, r.ntiles) < 0) return -1;
    long end = orvex_tell(o->fd);
    if (end < 0) return report_io(ORVEX_IO_SEEK);
    OrvexPrivate::endOfHeaders(o) = end;
    return 0;
}

// The tests every declaration makes before it looks at sizes.
int check_output_and_request(Orvex *o, const char *who, Orvex *input, int input_resolution,
                             int input_tile, long dec, int nlat_tiles, int nlon_tiles)
{
    if (o->fd == -1) {
        orvex_register_error(0, "%s: first need to open output file with setOutput()\n", who);
        return -1;
    }
    if (orvex_output_accepts_declaration(o, who) < 0) return -1;
    return check_request(who, input, input_resolution, input_tile, dec, nlat_tiles, nlon_tiles);
}

// A decimation and tiling that leave not one sample per tile.
int refuse_empty(const char *who, long n, const char *what, int ntiles, long dec)
{
    orvex_register_error(0,
                         "%s: %ld source %s give no sample to each of %d tile %s at decimation "
                         "%ld: use fewer tile %s or a smaller decimation\n",
                         who, n, what, ntiles, what, dec, what);
    return -1;
}

const OrvexGrid &input_grid(Orvex *input, int input_resolution)
{
    return *static_cast<const OrvexGrid *>(input->frame.resolutions[input_resolution].data);
}

}  // namespace

int Orvex::setResolutionHdrGrid(Orvex *input, int input_resolution, int input_tile, long dec,
                                int compressed, int nlat_tiles, int nlon_tiles, const char *name,
                                const char *resolution_string)
{
    if (check_output_and_request(this, kWho, input, input_resolution, input_tile, dec, nlat_tiles,
                                 nlon_tiles) < 0)
        return -1;
    const OrvexGrid &sg = input_grid(input, input_resolution);
    if (check_whole_windows(sg, dec) < 0) return -1;
    return declare_grid(this, input, input_resolution, input_tile, dec, compressed, nlat_tiles,
                        nlon_tiles, sg.nlat_per_tile / dec, sg.nlon_per_tile / dec, name,
                        resolution_string);
}

int Orvex::setResolutionHdrGridFit(Orvex *input, int input_resolution, int input_tile, long dec,
                                   int compressed, int nlat_tiles, int nlon_tiles,
                                   const char *name, const char *resolution_string)
{
    const char *who = "Orvex::setResolutionHdrGridFit";
    if (check_output_and_request(this, who, input, input_resolution, input_tile, dec, nlat_tiles,
                                 nlon_tiles) < 0)
        return -1;
    const OrvexGrid &sg = input_grid(input, input_resolution);
    long nlat = fitted_samples(sg.nlat_per_tile, dec, nlat_tiles);
    long nlon = fitted_samples(sg.nlon_per_tile, dec, nlon_tiles);
    if (nlat == 0) return refuse_empty(who, sg.nlat_per_tile, "rows", nlat_tiles, dec);
    if (nlon == 0) return refuse_empty(who, sg.nlon_per_tile, "columns", nlon_tiles, dec);
    return declare_grid(this, input, input_resolution, input_tile, dec, compressed, nlat_tiles,
                        nlon_tiles, nlat, nlon, name, resolution_string);
}
