// The sample of a grid resolution nearest to a latitude and longitude.
// Positions are turned into sample indices over the whole grid and rounded,
// then split into a tile and a place inside it, so a position at a
// sample's own latitude and longitude finds that sample whatever the step.

#include <limits.h>
#include <math.h>

#include "Orvex.h"
#include "sample_index.h"

namespace {

// q rounded (halves upward) for a position from half a step before the
// first sample to the far edge of the last sample's cell, that edge
// included (a pole, say), else -1: the grid answers wherever its own area
// or a sample's half step reaches. Tested on q itself so no out-of-range
// or NaN quotient is converted.
long rounded_index(double q, long n)
{
    if (n > 0 && q >= -0.5 && q <= static_cast<double>(n)) {
        long i = static_cast<long>(floor(q + 0.5));
        return i < n ? i : n - 1;
    }
    return -1;
}

// The column nearest to a longitude `d` degrees east of the first column.
// A grid reaching all the way round takes it modulo its period; a region
// takes whichever of d and d one turn either way falls inside it.
long nearest_column(double d, double dlon, long ncols)
{
    if (!isfinite(d) || !(dlon != 0) || !isfinite(dlon)) return -1;
    if (!(fabs(d) < 360.0)) d = fmod(d, 360.0);  // -360 < d < 360, exact
    long period = orvex_turn_columns(dlon, ncols);
    if (period > 0) {
        long x = static_cast<long>(floor(d / dlon + 0.5));
        return orvex_turned_column(x, period, period);
    }
    const double turns[3] = {0.0, -360.0, 360.0};
    for (double t : turns) {
        long x = rounded_index((d + t) / dlon, ncols);
        if (x >= 0) return x;
    }
    return -1;
}

}  // namespace

int Orvex::findNearestPixel(OrvexResolution *resolution, double lat, double lon, int *tile,
                            long *row, long *col, long *offset)
{
    *tile = -1;
    *row = -1;
    *col = -1;
    *offset = -1;
    const OrvexResolution &r = *resolution;
    if (r.map_type != 0 || !r.data) return 0;
    const OrvexGrid &g = *static_cast<const OrvexGrid *>(r.data);
    long nrows, ncols;
    if (g.nlat_per_tile < 1 || g.nlon_per_tile < 1 || r.nlat_tiles < 1 || r.nlon_tiles < 1 ||
        __builtin_mul_overflow(g.nlat_per_tile, r.nlat_tiles, &nrows) ||
        __builtin_mul_overflow(g.nlon_per_tile, r.nlon_tiles, &ncols))
        return 0;
    long y = rounded_index((lat - g.lat_start) / g.dlat, nrows);
    if (y < 0) return 0;
    long x = nearest_column(lon - g.lon_start, g.dlon, ncols);
    if (x < 0) return 0;
    long trow = y / g.nlat_per_tile, tcol = x / g.nlon_per_tile;
    long number;
    if (__builtin_mul_overflow(trow, static_cast<long>(r.nlon_tiles), &number) ||
        number > INT_MAX - tcol)
        return 0;  // tile numbers are ints
    *tile = static_cast<int>(number + tcol);
    *row = y - trow * g.nlat_per_tile;
    *col = x - tcol * g.nlon_per_tile;
    *offset = (*row * g.nlon_per_tile + *col) * (g.content == 1 ? 2 : 3);
    return 0;
}
