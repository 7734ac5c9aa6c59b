// Small questions asked of the map records, by the drawing code and every
// subcommand alike.
#ifndef ORVEX_TOOL_MAP_RECORDS_H
#define ORVEX_TOOL_MAP_RECORDS_H

#include "Orvex.h"

namespace orvexcli {

/* A grid resolution's grid, or null for other map types. */
OrvexGrid *grid_of(const OrvexResolution &res);
OrvexVector *vector_of(const OrvexResolution &res);
/* Bytes of one inflated tile: samples times 2 (elevation) or 3 (colour);
 * -1 when the tile's counts are below 1 or the bytes overflow 64 bits. */
long tile_bytes(const OrvexGrid &grid);
}  // namespace orvexcli

#endif
