// Reads grid samples at latitudes/longitudes through the library: the
// sample nearest to the position from findNearestPixel, its tile's samples
// through the drawing's tile access (the shared cache).
#ifndef ORVEX_TOOL_SAMPLER_H
#define ORVEX_TOOL_SAMPLER_H

#include "Orvex.h"
#include "tile_access.h"

namespace orvexcli {

struct Sample {
    int tile = -1;
    long tilerow = -1, tilecol = -1, row = -1, col = -1;
    bool inside = false;   /* a sample of the grid lies within half a step */
    bool elevation = true; /* else colour */
    int z = ORVEX_NODATA;
    unsigned char rgb[3] = {0, 0, 0};
};

/* True when a resolution's lattice goes all round the Earth. */
bool covers_full_circle(const OrvexResolution &res);

class GridSampler {
public:
    GridSampler(Orvex *map, int resolution);
    /* Fills *out. Returns 0, or -1 when a tile cannot be read (the library's
     * message is registered). */
    int sample(double lat, double lon, Sample *out);
    /* Forgets the remembered tile; call after trimming the cache. */
    void forget() { last_tile_ = -1; }

private:
    int tile_samples(int tile, const unsigned char **samples);
    void locate(double lat, double lon, Sample *out);

    Orvex *map_;
    int resolution_;
    OrvexResolution *res_;
    OrvexGrid *grid_;
    TileAccess tiles_;
    int last_tile_ = -1;
    const unsigned char *last_samples_ = nullptr;
};

}  // namespace orvexcli

#endif
