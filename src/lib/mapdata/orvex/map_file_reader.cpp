// Reading a tiled map file: the mapped file becomes the in-memory model.
// Records are copied; payloads and point arrays stay in the mapping and
// are addressed there. Every count and offset is proved to lie inside the
// mapping before it is trusted, and allocations are sized only from counts
// already proved to fit, so a small corrupt file can neither make the
// reader run past its end nor allocate much.

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "OrvexInternal.h"

namespace {

const long kResolutionRecord = offsetof(OrvexResolution, data);  // 848
const long kGridHeader = offsetof(OrvexGrid, tiles);             // 104
const long kGridTileEntry = sizeof(OrvexGridTile);               // 32
const long kVectorHeader = offsetof(OrvexVector, tiles);         // 32
const long kVectorTileRecord = offsetof(OrvexVectorTile, segments);  // 48
const long kSegmentRecord = sizeof(OrvexVectorSegment);         // 40
const char kMagic[8] = {'O', 'R', 'X', '0', ' ', ' ', ' ', ' '};

struct Reader {
    Orvex *object;
    OrvexMapCursor cursor;
    const char *path;

    // Registers a refusal that names the file and the failed check.
    int refuse(const char *what, long resolution)
    {
        orvex_register_error(0, "Orvex::scanInput: %s: resolution %ld: %s.\n", path, resolution,
                             what);
        return -1;
    }
};

bool tile_lattice_ok(const OrvexResolution &res)
{
    if (res.ntiles < 0 || res.nlon_tiles < 0 || res.nlat_tiles < 0) return false;
    if (res.nlat_tiles != 0 && res.nlon_tiles > LONG_MAX / res.nlat_tiles) return false;
    return res.ntiles == res.nlon_tiles * res.nlat_tiles;
}

// A tile's size must be a byte count at all; an uncompressed tile is
// handed out in place (its payload is proved to lie in the file below),
// a compressed one is inflated whole, so it may not pass the inflate cap.
// Refuses with the numbers, or returns 0.
int check_grid_shape(Reader &r, const OrvexGrid &g, long index)
{
    long sample = g.content == 1 ? 2 : 3, bytes = 0;
    char what[200];
    if (g.nlon_per_tile < 0 || g.nlat_per_tile < 0 || __builtin_mul_overflow(g.nlon_per_tile, g.nlat_per_tile, &bytes) ||
        __builtin_mul_overflow(bytes, sample, &bytes)) {
        snprintf(what, sizeof what, "grid tile size is negative or too large (%ld x %ld samples)", g.nlon_per_tile,
                 g.nlat_per_tile);
        return r.refuse(what, index);
    }
    if (g.compressed && static_cast<unsigned long>(bytes) > ORVEX_MAX_INFLATED_TILE) {
        snprintf(what, sizeof what,
                 "grid tile size is negative or too large (compressed tiles of %ld bytes, above the %lu a "
                 "compressed tile may inflate to)",
                 bytes, ORVEX_MAX_INFLATED_TILE);
        return r.refuse(what, index);
    }
    return 0;
}

int read_grid(Reader &r, OrvexResolution &res, long index)
{
    OrvexGrid *grid = static_cast<OrvexGrid *>(orvex_calloc(1, sizeof(OrvexGrid)));
    if (!grid) {
        orvex_register_error(1, "Orvex::scanInput: malloc(grid) error.\n");
        return -1;
    }
    res.data = grid;
    if (!r.cursor.take(grid, kGridHeader)) return r.refuse("grid header reaches past the end of the file", index);
    grid->tiles = nullptr;
    if (check_grid_shape(r, *grid, index) < 0) return -1;
    if (!r.cursor.fits(res.ntiles, kGridTileEntry))
        return r.refuse("tile index reaches past the end of the file", index);
    grid->tiles = static_cast<OrvexGridTile *>(orvex_calloc(static_cast<size_t>(res.ntiles), sizeof(OrvexGridTile)));
    if (!grid->tiles) {
        orvex_register_error(1, "Orvex::scanInput: malloc(tiles) error.\n");
        return -1;
    }
    r.cursor.take(grid->tiles, res.ntiles * kGridTileEntry);
    for (long t = 0; t < res.ntiles; t++) {
        OrvexGridTile &tile = grid->tiles[t];
        unsigned long offset = reinterpret_cast<unsigned long>(tile.buf);
        if (!orvex_span_in_mapping(r.cursor.size, offset, tile.nbuf, 1))
            return r.refuse("tile payload reaches past the end of the file", index);
        tile.buf = r.object->file_stream + offset;
    }
    return 0;
}

int read_vector_tile(Reader &r, OrvexVectorTile &tile, long index)
{
    if (!r.cursor.take(&tile, kVectorTileRecord))
        return r.refuse("vector tile record reaches past the end of the file", index);
    tile.segments = nullptr;
    if (tile.nsegments < 0) return r.refuse("vector tile has a negative segment count", index);
    if (!r.cursor.fits(tile.nsegments, kSegmentRecord))
        return r.refuse("segment records reach past the end of the file", index);
    tile.segments = static_cast<OrvexVectorSegment *>(
        orvex_calloc(static_cast<size_t>(tile.nsegments), sizeof(OrvexVectorSegment)));
    if (!tile.segments) {
        orvex_register_error(1, "Orvex::scanInput: malloc(segments) error.\n");
        return -1;
    }
    r.cursor.take(tile.segments, tile.nsegments * kSegmentRecord);
    for (long s = 0; s < tile.nsegments; s++) {
        OrvexVectorSegment &seg = tile.segments[s];
        unsigned long offset = reinterpret_cast<unsigned long>(seg.pts);
        if (seg.npts < 0) return r.refuse("segment has a negative point count", index);
        if (!orvex_span_in_mapping(r.cursor.size, offset, static_cast<unsigned long>(seg.npts),
                                   sizeof(OrvexXY)))
            return r.refuse("segment points reach past the end of the file", index);
        seg.pts = reinterpret_cast<OrvexXY *>(r.object->file_stream + offset);
    }
    return 0;
}

int read_vector(Reader &r, OrvexResolution &res, long index)
{
    OrvexVector *vector = static_cast<OrvexVector *>(orvex_calloc(1, sizeof(OrvexVector)));
    if (!vector) {
        orvex_register_error(1, "Orvex::scanInput: malloc(grid) error.\n");
        return -1;
    }
    res.data = vector;
    if (!r.cursor.take(vector, kVectorHeader))
        return r.refuse("vector header reaches past the end of the file", index);
    vector->tiles = nullptr;
    if (!r.cursor.fits(res.ntiles, kVectorTileRecord))
        return r.refuse("vector tile records reach past the end of the file", index);
    vector->tiles = static_cast<OrvexVectorTile *>(
        orvex_calloc(static_cast<size_t>(res.ntiles), sizeof(OrvexVectorTile)));
    if (!vector->tiles) {
        orvex_register_error(1, "Orvex::scanInput: malloc(tiles) error.\n");
        return -1;
    }
    for (long t = 0; t < res.ntiles; t++)
        if (read_vector_tile(r, vector->tiles[t], index) < 0) return -1;
    return 0;
}

int read_resolutions(Reader &r)
{
    OrvexFrame &frame = r.object->frame;
    for (long i = 0; i < frame.nresolutions; i++) {
        OrvexResolution &res = frame.resolutions[i];
        if (!r.cursor.take(&res, kResolutionRecord))
            return r.refuse("resolution record reaches past the end of the file", i);
        res.data = nullptr;
        // Names are read as C strings: a damaged record must not send a
        // reader past the end of its field.
        res.source.fname[sizeof res.source.fname - 1] = '\0';
        res.name[sizeof res.name - 1] = '\0';
        res.resolution[sizeof res.resolution - 1] = '\0';
        if (res.map_type != ORVEX_MAP_GRID && res.map_type != ORVEX_MAP_VECTOR) continue;
        if (!tile_lattice_ok(res))
            return r.refuse("tile counts are negative or ntiles differs from nlon_tiles x nlat_tiles", i);
        int rc = res.map_type == ORVEX_MAP_GRID ? read_grid(r, res, i) : read_vector(r, res, i);
        if (rc < 0) return -1;
    }
    return 0;
}

}  // namespace

int orvex_scan_map_file(Orvex *object)
{
    OrvexFrame &frame = object->frame;
    Reader r{object, OrvexMapCursor(object->file_stream, object->file_size),
             object->fname ? object->fname : "(unnamed)"};
    frame.resolutions = nullptr;
    frame.nresolutions = 0;
    long count = 0;
    if (!r.cursor.take(frame.magic, 8) || !r.cursor.take(&count, 8)) {
        orvex_register_error(0, "Orvex::scanInput: %s: file is shorter than its header.\n", r.path);
        return -1;
    }
    if (memcmp(frame.magic, kMagic, 8) != 0) {
        orvex_register_error(0, "Orvex::scanInput: wrong magic number.\n");
        return -1;
    }
    if (count < 0 || !r.cursor.fits(count, kResolutionRecord)) {
        orvex_register_error(0,
                             "Orvex::scanInput: %s: resolution count %ld does not fit in a file of "
                             "%ld bytes.\n",
                             r.path, count, object->file_size);
        return -1;
    }
    frame.resolutions = static_cast<OrvexResolution *>(
        orvex_calloc(static_cast<size_t>(count), sizeof(OrvexResolution)));
    if (!frame.resolutions) {
        orvex_register_error(1, "Orvex::scanInput: malloc(resolutions) error.\n");
        return -1;
    }
    frame.nresolutions = count;
    if (read_resolutions(r) < 0) {
        // A refused or half-read file leaves the object with no resolutions,
        // exactly as a wrong magic does.
        OrvexPrivate::releaseFrame(object);
        return -1;
    }
    return 0;
}
