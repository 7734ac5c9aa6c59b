// Where the pixels of a picture fall on a grid resolution's lattice of
// samples, and the samples around them read from the tiles. A picture row
// has one latitude and a column one longitude in both projections, so rows
// and columns are located once each, never pixel by pixel.
#ifndef ORVEX_TOOL_LATTICE_H
#define ORVEX_TOOL_LATTICE_H

#include <vector>

#include "Orvex.h"
#include "tile_access.h"

namespace orvexcli {

/* The samples along one axis that make the value at a fractional lattice
 * position q, for pixels `scale` lattice steps apart, and their weights
 * (summing to 1). Where pixels are finer than the samples (scale <= 1):
 * the four around q, cubic (Catmull-Rom), with the linear weights of the
 * middle two to fall back on where a sample has no data. Where they are
 * coarser: every sample within `scale` of q, weighted by a tent of that
 * half-width, so that each pixel averages what it covers rather than
 * picking samples (at most kMaxTaps; wider pixels average less). `inside`
 * is false where q lies off the grid's area: more than half a step before
 * its first sample or past the far edge of its last sample's cell (along an
 * axis that wraps, only where q is not finite). */
const int kMaxTaps = 16;
struct Taps {
    int n = 0;
    long index[kMaxTaps];
    float weight[kMaxTaps];
    float fallback[kMaxTaps]; /* not negative */
    bool inside = false;
};
Taps taps_at(double q, double scale, long n, bool wraps = false);

/* One grid resolution as a lattice over all its tiles. */
struct Lattice {
    long nrows = 0, ncols = 0;
    int channels = 1; /* 1 elevation, 3 colour */
    bool wraps = false; /* the lattice goes all round the Earth */
    /* False (message registered) for a grid whose counts no real file has. */
    bool init(Orvex *map, int resolution);
    double row_at(double lat) const;
    /* Lattice column of a longitude, turned by whole turns onto the grid
     * where it reaches round, or into its span where it covers a region. */
    double col_at(double lon) const;
    /* Column x turned onto the lattice (any x when it wraps, through the
     * map's own nearest-sample look-up so both agree at the seam), or -1. */
    long turned(Orvex *map, long x) const;
    int resolution = -1;
    const OrvexResolution *res = nullptr;
    const OrvexGrid *grid = nullptr;
};

/* The samples of the lattice rows and columns some taps name, copied out of
 * the tiles as floats (NaN where there is no data): one plane per channel,
 * one row per distinct lattice row, one column per distinct column, and a
 * last row and column of NaN that taps off the lattice point at. */
struct Window {
    long rows = 0, cols = 0; /* including the NaN row and column */
    std::vector<float> planes[3];
    /* Taps' indices rewritten as window rows / columns. */
    std::vector<Taps> row_taps, col_taps;
    const float *at(int channel, long row) const { return planes[channel].data() + row * cols; }
};
/* Fills *w for the given taps (lattice rows; unwrapped lattice columns).
 * Returns 0, or -1 when a tile cannot be read. */
int read_window(Orvex *map, const Lattice &lattice, TileAccess &tiles, std::vector<Taps> row_taps,
                std::vector<Taps> col_taps, Window *w);

/* The values of channel c at every crossing of the window's row and
 * column taps, row after row: the full weights where every sample holds
 * data, else the fallback weights over those that do; NaN where none does
 * or the pixel is off the grid. Made in two passes, along rows and then
 * down columns. */
void interpolate(const Window &w, int channel, std::vector<float> *out);

}  // namespace orvexcli

#endif
