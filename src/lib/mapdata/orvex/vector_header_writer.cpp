// Declaring a vector resolution of an output map file: the resolution
// record, the vector header, and for every output tile its tile record
// followed at once by its segment records. The points come later (the
// vector tile writer); until then each output segment's `pts` holds the
// file position of its record's `pts` field, which that writer patches.
//
// A second input may be added to a resolution only while the file stays
// readable that way: the resolution has one tile and nothing has been
// written after its segment records, so the new records extend them.

#include <stdlib.h>

#include "OrvexInternal.h"
#include "VectorGeometry.h"

namespace {

const size_t kResolutionRecord = offsetof(OrvexResolution, data);  // 848
const size_t kVectorHeader = offsetof(OrvexVector, tiles);         // 32
const size_t kTileRecord = offsetof(OrvexVectorTile, segments);    // 48

// Registers the message that goes with a failed orvex_write_* call.
int io_failure(int rc)
{
    return orvex_io_failure("Orvex::setResolutionHdrVector", rc);
}

// The input tile the declaration takes its segments from, after checking
// that it exists; null (message registered) when it does not.
OrvexVectorTile *source_tile(Orvex *input, int input_resolution, int input_tile)
{
    if (!input) {
        orvex_register_error(0, "Orvex::setResolutionHdrVector: input object is NULL\n");
        return nullptr;
    }
    if (input_resolution < 0 || input_resolution >= input->frame.nresolutions) {
        orvex_register_error(0, "Orvex::setResolutionHdrVector: input resolution out of range\n");
        return nullptr;
    }
    OrvexResolution &res = input->frame.resolutions[input_resolution];
    if (res.map_type != ORVEX_MAP_VECTOR) {
        orvex_register_error(0, "Orvex::setResolutionHdrVector: input map type must be vector\n");
        return nullptr;
    }
    if (input_tile < 0 || input_tile >= res.ntiles) {
        orvex_register_error(0, "Orvex::setResolutionHdrVector: input tile out of range\n");
        return nullptr;
    }
    OrvexVector *vector = static_cast<OrvexVector *>(res.data);
    if (!vector || !vector->tiles || res.nlon_tiles < 1) {
        orvex_register_error(0,
                             "Orvex::setResolutionHdrVector: input resolution %d has no vector "
                             "tiles\n",
                             input_resolution);
        return nullptr;
    }
    return &vector->tiles[input_tile];
}

// Cleans every segment of the input tile once per declaration, before any
// record is copied, so that all output tiles carry the same point counts
// and match the points the tile writer will find. A segment whose purge
// fails is written uncleaned.
void purge_tile(OrvexVectorTile &tile, long data_type, Orvex *input)
{
    for (long s = 0; s < tile.nsegments; s++)
        orvex_purgeVectorDataBadPoints(&tile.segments[s], static_cast<int>(data_type), input);
}

// Copies the input tile's segments to `out` and writes their records at the
// current position, leaving in each output `pts` the file position of the
// record's own `pts` field.
int write_segments(int fd, const OrvexVectorTile &in, OrvexVectorSegment *out, int fill, int level)
{
    for (long s = 0; s < in.nsegments; s++) {
        OrvexVectorSegment &seg = out[s];
        seg = in.segments[s];
        seg.fill = fill;
        if (level > 0) seg.level = level;
        OrvexVectorSegment record = seg;
        record.pts = nullptr;  // the placeholder: the tile writer patches it
        int rc = orvex_write_all(fd, &record, sizeof record);
        if (rc != ORVEX_IO_OK) return io_failure(rc);
        long pos = orvex_tell(fd);
        if (pos < 0) return io_failure(ORVEX_IO_SEEK);
        seg.pts = reinterpret_cast<OrvexXY *>(pos - 8);
    }
    return 0;
}

// The new resolution's record and header, derived from the input tile's
// place in its lattice.
void derive_resolution(const OrvexResolution &in, int input_tile, int nlat_tiles, int nlon_tiles,
                       const char *name, const char *resolution_string, OrvexResolution &res,
                       OrvexVector &header)
{
    res = OrvexResolution();
    res.source = in.source;
    res.data_type = ORVEX_DATA_ORX;
    res.map_type = ORVEX_MAP_VECTOR;
    if (name) orvex_copy_name(res.name, sizeof res.name, name);
    if (resolution_string) orvex_copy_name(res.resolution, sizeof res.resolution, resolution_string);

    long row = input_tile / in.nlon_tiles;
    long col = input_tile - row * in.nlon_tiles;
    double lon0 = in.lon_start_tiles + col * in.dlon_tiles;
    double lat0 = in.lat_start_tiles + row * in.dlat_tiles;
    double lon1 = lon0 + in.dlon_tiles, lat1 = lat0 + in.dlat_tiles;
    header = OrvexVector();
    header.lonmin = lon0 < lon1 ? lon0 : lon1;
    header.lonmax = lon0 < lon1 ? lon1 : lon0;
    header.latmin = lat0 < lat1 ? lat0 : lat1;
    header.latmax = lat0 < lat1 ? lat1 : lat0;

    res.lon_start_tiles = lon0;
    res.lat_start_tiles = lat0;
    res.dlon_tiles = (header.lonmax - header.lonmin) / nlon_tiles;
    if (in.dlon_tiles < 0) res.dlon_tiles = -res.dlon_tiles;
    res.dlat_tiles = (header.latmax - header.latmin) / nlat_tiles;
    if (in.dlat_tiles < 0) res.dlat_tiles = -res.dlat_tiles;
    res.nlon_tiles = nlon_tiles;
    res.nlat_tiles = nlat_tiles;
    res.ntiles = static_cast<long>(nlat_tiles) * nlon_tiles;
    res.degrees_per_pixel = in.degrees_per_pixel;
}

// Raises the count in memory and in the file header.
int count_resolution(Orvex *o)
{
    long count = o->frame.nresolutions + 1;
    o->frame.nresolutions = count;
    int rc = orvex_write_at(o->fd, o->nresolutions_offset, &count, sizeof count);
    return rc == ORVEX_IO_OK ? 0 : io_failure(rc);
}

// Writes every output tile of a new resolution: its record, then its
// segment records.
int write_new_tiles(Orvex *o, OrvexVector &vector, long ntiles, const OrvexVectorTile &in, int fill,
                    int level)
{
    vector.tiles = static_cast<OrvexVectorTile *>(orvex_calloc(static_cast<size_t>(ntiles),
                                                               sizeof(OrvexVectorTile)));
    if (!vector.tiles) {
        orvex_register_error(1, "Orvex::setResolutionHdrVector: malloc(tiles) error.\n");
        return -1;
    }
    for (long t = 0; t < ntiles; t++) {
        OrvexVectorTile &tile = vector.tiles[t];
        tile = in;
        tile.fill = fill;
        tile.segments = nullptr;
        o->tiles_offset = orvex_tell(o->fd);
        int rc = orvex_write_all(o->fd, &tile, kTileRecord);
        if (rc != ORVEX_IO_OK) return io_failure(rc);
        tile.segments = static_cast<OrvexVectorSegment *>(
            orvex_calloc(static_cast<size_t>(in.nsegments), sizeof(OrvexVectorSegment)));
        if (!tile.segments) {
            orvex_register_error(1, "Orvex::setResolutionHdrVector: malloc(out_segments) error.\n");
            return -1;
        }
        if (write_segments(o->fd, in, tile.segments, fill, level) < 0) return -1;
    }
    return 0;
}

int declare_new(Orvex *o, Orvex *input, int input_resolution, int input_tile, int nlat_tiles,
                int nlon_tiles, int fill, int level, const char *name,
                const char *resolution_string)
{
    const OrvexResolution &in = input->frame.resolutions[input_resolution];
    OrvexVectorTile &in_tile = static_cast<OrvexVector *>(in.data)->tiles[input_tile];
    OrvexResolution res;
    OrvexVector header;
    derive_resolution(in, input_tile, nlat_tiles, nlon_tiles, name, resolution_string, res, header);

    OrvexResolution *slot = orvex_grow_resolutions(o->frame, "Orvex::setResolutionHdrVector");
    if (!slot) return -1;
    OrvexVector *vector = static_cast<OrvexVector *>(orvex_calloc(1, sizeof(OrvexVector)));
    if (!vector) {
        orvex_register_error(1, "Orvex::setResolutionHdrVector: malloc(vector) error.\n");
        return -1;
    }
    *vector = header;
    res.data = vector;
    *slot = res;

    int index = static_cast<int>(o->frame.nresolutions);
    if (o->setInputArr(input, input_resolution, input_tile, index) < 0) {
        // The slot lies past the count, where teardown would never see it.
        free(vector);
        slot->data = nullptr;
        orvex_register_error(0, "Orvex::setResolutionHdrVector: setInputArr() error.\n");
        return -1;
    }
    if (count_resolution(o) < 0) return -1;
    int rc = orvex_write_all(o->fd, slot, kResolutionRecord);
    if (rc == ORVEX_IO_OK) rc = orvex_write_all(o->fd, vector, kVectorHeader);
    if (rc != ORVEX_IO_OK) return io_failure(rc);

    if (fill) purge_tile(in_tile, in.data_type, input);
    return write_new_tiles(o, *vector, slot->ntiles, in_tile, fill, level);
}

// Refuses (message registered) adding an input to a resolution when the
// file would not stay readable, or the resolution was never completed.
int check_extendable(Orvex *o, int output_resolution, int nlat_tiles, int nlon_tiles)
{
    if (output_resolution >= o->frame.nresolutions) {
        orvex_register_error(0, "Orvex::setResolutionHdrVector: output resolution out of range\n");
        return -1;
    }
    OrvexResolution &res = o->frame.resolutions[output_resolution];
    if (res.map_type != ORVEX_MAP_VECTOR) {
        orvex_register_error(0, "Orvex::setResolutionHdrVector: output map type must be vector\n");
        return -1;
    }
    if (res.ntiles != 1) {
        orvex_register_error(0,
                             "Orvex::setResolutionHdrVector: cannot add an input to resolution %d "
                             "of %ld tiles: only the segment records of a single tile can be "
                             "extended\n",
                             output_resolution, res.ntiles);
        return -1;
    }
    if (nlat_tiles != res.nlat_tiles || nlon_tiles != res.nlon_tiles) {
        orvex_register_error(0,
                             "Orvex::setResolutionHdrVector: tile counts %d x %d differ from those "
                             "of resolution %d (%ld x %ld)\n",
                             nlat_tiles, nlon_tiles, output_resolution, res.nlat_tiles,
                             res.nlon_tiles);
        return -1;
    }
    if (output_resolution != o->frame.nresolutions - 1) {
        orvex_register_error(0,
                             "Orvex::setResolutionHdrVector: cannot add an input to resolution %d: "
                             "resolution %ld was declared after it\n",
                             output_resolution, o->frame.nresolutions - 1);
        return -1;
    }
    OrvexVector *vector = static_cast<OrvexVector *>(res.data);
    if (!vector || !vector->tiles ||
        (vector->tiles[0].nsegments > 0 && !vector->tiles[0].segments) ||
        OrvexPrivate::endOfHeaders(o) != orvex_tell(o->fd)) {
        orvex_register_error(0,
                             "Orvex::setResolutionHdrVector: cannot add an input to resolution %d: "
                             "its declaration was not completed\n",
                             output_resolution);
        return -1;
    }
    return 0;
}

void widen_tile_box(OrvexVectorTile &tile, const OrvexVectorTile &in)
{
    if (in.lonmin < tile.lonmin) tile.lonmin = in.lonmin;
    if (in.latmin < tile.latmin) tile.latmin = in.latmin;
    if (in.lonmax > tile.lonmax) tile.lonmax = in.lonmax;
    if (in.latmax > tile.latmax) tile.latmax = in.latmax;
}

int add_input(Orvex *o, Orvex *input, int input_resolution, int input_tile, int nlat_tiles,
              int nlon_tiles, int output_resolution, int fill, int level)
{
    if (check_extendable(o, output_resolution, nlat_tiles, nlon_tiles) < 0) return -1;
    const OrvexResolution &in = input->frame.resolutions[input_resolution];
    OrvexVectorTile &in_tile = static_cast<OrvexVector *>(in.data)->tiles[input_tile];
    OrvexVector *vector = static_cast<OrvexVector *>(o->frame.resolutions[output_resolution].data);

    if (o->setInputArr(input, input_resolution, input_tile, output_resolution) < 0) {
        orvex_register_error(0, "Orvex::setResolutionHdrVector: setInputArr() error.\n");
        return -1;
    }
    if (fill) purge_tile(in_tile, in.data_type, input);
    OrvexVectorTile &tile = vector->tiles[0];
    long first = tile.nsegments, total = tile.nsegments + in_tile.nsegments;
    void *grown = orvex_sys_realloc(tile.segments, static_cast<size_t>(total ? total : 1) *
                                                       sizeof(OrvexVectorSegment));
    if (!grown) {
        orvex_register_error(1, "Orvex::setResolutionHdrVector: realloc(out_segments) error.\n");
        return -1;
    }
    tile.segments = static_cast<OrvexVectorSegment *>(grown);
    tile.fill = fill;
    tile.nsegments = total;
    widen_tile_box(tile, in_tile);
    int rc = orvex_write_at(o->fd, o->tiles_offset, &tile, kTileRecord);
    if (rc != ORVEX_IO_OK) return io_failure(rc);
    return write_segments(o->fd, in_tile, tile.segments + first, fill, level);
}

}  // namespace

int Orvex::setResolutionHdrVector(Orvex *input, int input_resolution, int input_tile,
                                  int nlat_tiles, int nlon_tiles, int output_resolution, int fill,
                                  int level, const char *name, const char *resolution_string)
{
    if (fd == -1) {
        orvex_register_error(0,
                             "Orvex::setResolutionHdrVector: first need to open output file with "
                             "setOutput()\n");
        return -1;
    }
    if (orvex_output_accepts_declaration(this, "Orvex::setResolutionHdrVector") < 0) return -1;
    if (!source_tile(input, input_resolution, input_tile)) return -1;
    if (nlat_tiles < 1 || nlon_tiles < 1) {
        orvex_register_error(0,
                             "Orvex::setResolutionHdrVector: tile counts must be at least 1 "
                             "(nlat_tiles %d, nlon_tiles %d)\n",
                             nlat_tiles, nlon_tiles);
        return -1;
    }
    int rc = output_resolution < 0
                 ? declare_new(this, input, input_resolution, input_tile, nlat_tiles, nlon_tiles,
                               fill, level, name, resolution_string)
                 : add_input(this, input, input_resolution, input_tile, nlat_tiles, nlon_tiles,
                             output_resolution, fill, level);
    if (rc < 0) return -1;
    OrvexPrivate::endOfHeaders(this) = orvex_tell(fd);
    return 0;
}
