// Samples counted by index; see sample_index.h.

#include <math.h>

#include "sample_index.h"

long orvex_turn_columns(double dlon, long ncols)
{
    double per_turn = 360.0 / fabs(dlon);
    // Rounding to whole samples: the sample a whole period on lies within
    // half a sample of the same longitude one turn on, whatever digits the
    // step was written with.
    if (!(per_turn >= 0.5) || !(per_turn < static_cast<double>(ncols) + 0.5)) return 0;
    return lround(per_turn);
}

long orvex_turned_column(long x, long ncols, long period)
{
    if (x >= 0 && x < ncols) return x;
    if (period <= 0 || period > ncols) return -1;
    if (x < 0) {
        long r = x % period;  // in -(period - 1) .. 0
        return r < 0 ? r + period : r;
    }
    long turns = (x - ncols) / period + 1;  // x >= ncols here
    return x - turns * period;
}
