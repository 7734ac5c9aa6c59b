#include "map_records.h"

namespace orvexcli {

OrvexGrid *grid_of(const OrvexResolution &res)
{
    return res.map_type == ORVEX_MAP_GRID ? static_cast<OrvexGrid *>(res.data) : nullptr;
}

OrvexVector *vector_of(const OrvexResolution &res)
{
    return res.map_type == ORVEX_MAP_VECTOR ? static_cast<OrvexVector *>(res.data) : nullptr;
}

long tile_bytes(const OrvexGrid &grid)
{
    /* Damaged headers may give any counts: refuse what no byte count holds.
     * Every size the map format's 64-bit fields give is taken. */
    long rows = grid.nlat_per_tile, cols = grid.nlon_per_tile, bytes = 0;
    if (rows < 1 || cols < 1 || __builtin_mul_overflow(rows, cols, &bytes) ||
        __builtin_mul_overflow(bytes, grid.content == 1 ? 2L : 3L, &bytes))
        return -1;
    return bytes;
}

}  // namespace orvexcli
