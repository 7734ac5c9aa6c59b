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
    /* Damaged headers may give any counts: refuse what no tile could be. */
    const long limit = 1L << 40;
    long rows = grid.nlat_per_tile, cols = grid.nlon_per_tile;
    if (rows < 1 || cols < 1 || rows > limit / cols || rows * cols > limit / 3) return -1;
    return rows * cols * (grid.content == 1 ? 2 : 3);
}

}  // namespace orvexcli
