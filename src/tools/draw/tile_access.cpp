#include "tile_access.h"

#include "map_records.h"

namespace orvexcli {

TileAccess::TileAccess(Orvex *map, int resolution) : map_(map), resolution_(resolution) {}

TileAccess::~TileAccess()
{
    band_done();
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
    if (tile == held_) {
        *out = held_samples_;
        return 0;
    }
    unsigned char *p = nullptr;
    if (map_->holdTileGrid(resolution_, tile, &p) != 0) return -1;
    band_done();
    held_ = tile;
    held_samples_ = p;
    *out = p;
    return 0;
}

void TileAccess::band_done()
{
    if (held_ >= 0) map_->releaseTileGrid(resolution_, held_);
    held_ = -1;
    held_samples_ = nullptr;
}

}  // namespace orvexcli
