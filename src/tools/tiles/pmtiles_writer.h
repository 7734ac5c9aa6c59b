// PMTiles version 3: a 127-byte header, a root directory within the first
// 16 KiB, the metadata, leaf directories where the root would not fit, and
// the tile data in tile-number order. Directories and metadata are gzip
// streams; tiles are stored as drawn.
#ifndef ORVEX_TILES_PMTILES_WRITER_H
#define ORVEX_TILES_PMTILES_WRITER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "archive.h"

namespace orvextiles {

/* A directory entry: `run` tiles from tile_id on share one content; a run
 * of 0 points at a leaf directory instead. */
struct PmEntry {
    uint64_t tile_id = 0, offset = 0;
    uint32_t length = 0, run = 1;
};

struct PmHeader {
    uint64_t root_offset = 0, root_length = 0, metadata_offset = 0, metadata_length = 0;
    uint64_t leaf_offset = 0, leaf_length = 0, data_offset = 0, data_length = 0;
    uint64_t addressed_tiles = 0, tile_entries = 0, tile_contents = 0;
    uint8_t clustered = 1, internal_compression = 2 /* gzip */, tile_compression = 1 /* none */;
    uint8_t tile_type = 2 /* png */, min_zoom = 0, max_zoom = 0, center_zoom = 0;
    double west = -180, south = -85, east = 180, north = 85, center_lon = 0, center_lat = 0;
};
const size_t kPmHeaderSize = 127;
/* The root directory and the header fit the first bytes a client reads. */
const size_t kPmRootLimit = 16384 - kPmHeaderSize;

std::string pmtiles_header(const PmHeader &h);
/* Entries (ascending) as the directory's varint columns: count, tile
 * number deltas, runs, lengths, offsets (0 where an entry follows the
 * previous one's bytes directly, else offset + 1). Not compressed. */
std::string directory_bytes(const std::vector<PmEntry> &entries);
/* A gzip stream of the bytes. Returns 0, or -1 (registered). */
int gzip_bytes(const std::string &in, std::string *out);
/* The compressed root directory, and the leaf directories it points into
 * (their offsets counted from the first leaf), so that the root stays
 * within `root_limit` bytes. Returns 0, or -1 (registered). */
int build_directories(const std::vector<PmEntry> &entries, size_t root_limit, std::string *root, std::string *leaves);

}  // namespace orvextiles

#endif
