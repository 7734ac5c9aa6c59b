// Web-map tiles by number: the one number of a tile z/x/y along the Hilbert
// curve of its zoom (zoom 0's tile is 0, zoom 1's follow from 1, and so on),
// the row order of TMS archives, and the tiles a region covers.
#ifndef ORVEX_TILES_TILE_ID_H
#define ORVEX_TILES_TILE_ID_H

#include <stdint.h>

#include <string>
#include <vector>

#include "region.h"

namespace orvextiles {

/* Deepest zoom whose tile numbers fit 64 bits with room to spare. */
const int kMaxTileZoom = 26;

/* The tile's number: every tile of lower zooms first, then the tile's
 * place on its zoom's Hilbert curve. z at most kMaxTileZoom, x and y below
 * 2^z. */
uint64_t tile_id(int z, uint32_t x, uint32_t y);
/* The tile of a number (the inverse of tile_id); false past kMaxTileZoom. */
bool tile_of_id(uint64_t id, int *z, uint32_t *x, uint32_t *y);

/* Rows counted from the south, as TMS archives number them. */
inline uint32_t tms_row(int z, uint32_t y) { return (1u << z) - 1 - y; }

/* Appends v as a little-endian base-128 varint. */
void put_varint(std::string *out, uint64_t v);

/* The tile numbers of every tile of zooms min..max that a region touches
 * (a region past 180 degrees east wraps round), ascending. */
std::vector<uint64_t> tiles_of_region(int min_zoom, int max_zoom, const orvextool::Region &region);

/* The tile columns (ascending, each once) and the first and last row
 * that a region touches at zoom z. */
void region_columns(int z, const orvextool::Region &region, std::vector<uint32_t> *columns, uint32_t *row0,
                    uint32_t *row1);

}  // namespace orvextiles

#endif
