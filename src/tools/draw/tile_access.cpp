#include "tile_access.h"

#include "map_records.h"

namespace orvexcli {

TileAccess::TileAccess(Orvex *map, int resolution, long bytes, long entries)
    : map_(map), resolution_(resolution), bytes_(bytes), entries_(entries)
{
}

int TileAccess::samples(int tile, const unsigned char **out)
{
    const OrvexResolution &res = map_->frame.resolutions[resolution_];
    const OrvexGrid *grid = grid_of(res);
    long bytes = grid ? tile_bytes(*grid) : -1;
    if (bytes < 0) {
        orvex_register_error(0, "orvex: resolution %d is no grid of whole tiles.\n", resolution_);
        return -1;
    }
    if (tile < 0 || tile >= res.ntiles || !grid->tiles) {
        orvex_register_error(0, "orvex: resolution %d has no tile %d.\n", resolution_, tile);
        return -1;
    }
    /* An uncompressed tile is read in place: it must hold all its samples. */
    if (!grid->compressed && grid->tiles[tile].nbuf < static_cast<unsigned long>(bytes)) {
        orvex_register_error(0, "orvex: resolution %d tile %d holds %lu bytes, fewer than its %ld bytes of samples.\n",
                             resolution_, tile, grid->tiles[tile].nbuf, bytes);
        return -1;
    }
    unsigned char *p = nullptr;
    if (map_->getTileGrid(resolution_, tile, &p) != 0) {
        /* A full cache is the one failure that trimming cures. */
        map_->cleanCache(0, 0);
        elog_clear_register(0);
        if (map_->getTileGrid(resolution_, tile, &p) != 0) return -1;
    }
    *out = p;
    return 0;
}

void TileAccess::band_done()
{
    map_->cleanCache(bytes_, 0);
    map_->cleanCacheEntries(entries_, 0);
}

}  // namespace orvexcli
