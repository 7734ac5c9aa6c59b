// Drawing every tile of a list on several threads into an archive: threads
// take tiles in ascending number and the archive receives them in that
// order, whichever thread finishes first, with only a bounded number of
// drawn tiles waiting to be written.
#ifndef ORVEX_TILES_TILE_RUN_H
#define ORVEX_TILES_TILE_RUN_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "archive.h"

namespace orvextiles {

/* Draws tile z/x/y as bytes; returns 0, or -1 (registered on its thread). */
using DrawTile = std::function<int(int z, uint32_t x, uint32_t y, std::string *bytes)>;

/* Draws `ids` (ascending) on `threads` threads into `writer`; `progress`,
 * when set, is called with tiles written and tiles in all. Returns 0, or -1
 * with the first failure's messages registered on the calling thread. */
int draw_tiles(const std::vector<uint64_t> &ids, int threads, const DrawTile &draw, ArchiveWriter *writer,
               const std::function<void(long, long)> &progress = nullptr);

}  // namespace orvextiles

#endif
