// Every tile the drawing reads goes through here: one grid resolution's
// inflated tiles from the shared cache, and the trimming of this object's
// share of that cache once a band of rows is done.
#ifndef ORVEX_TOOL_TILE_ACCESS_H
#define ORVEX_TOOL_TILE_ACCESS_H

#include "Orvex.h"

namespace orvexcli {

class TileAccess {
public:
    /* `bytes` and `entries`: how much of the cache this object may keep
     * between bands. */
    TileAccess(Orvex *map, int resolution, long bytes, long entries);
    /* The inflated samples of `tile`, valid until the next call. Returns
     * 0, or -1 when the tile cannot be read (message registered). */
    int samples(int tile, const unsigned char **out);
    /* A band of rows is done: keeps this object within its share. */
    void band_done();

private:
    Orvex *map_;
    int resolution_;
    long bytes_, entries_;
};

}  // namespace orvexcli

#endif
