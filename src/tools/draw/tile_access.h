// Every tile the drawing reads goes through here: one grid resolution's
// inflated tiles from the shared cache. The tile being read is held, so
// that no other thread's miss can evict it under the process's byte
// budget; the cache itself evicts the least recently used of the rest.
#ifndef ORVEX_TOOL_TILE_ACCESS_H
#define ORVEX_TOOL_TILE_ACCESS_H

#include "Orvex.h"

namespace orvexcli {

class TileAccess {
public:
    TileAccess(Orvex *map, int resolution);
    ~TileAccess();
    TileAccess(const TileAccess &) = delete;
    TileAccess &operator=(const TileAccess &) = delete;
    /* The inflated samples of `tile`, valid until the next call. Returns
     * 0, or -1 when the tile cannot be read (message registered). */
    int samples(int tile, const unsigned char **out);
    /* A band of rows is done: lets go of the tile still held. */
    void band_done();

private:
    Orvex *map_;
    int resolution_;
    int held_ = -1;
    const unsigned char *held_samples_ = nullptr;
};

}  // namespace orvexcli

#endif
