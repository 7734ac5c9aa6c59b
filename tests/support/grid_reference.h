// A plain, literal implementation of writing one grid tile: every source
// sample of every window is read one at a time by its row and column in
// the source tile (columns past the edges turned by whole turns when the
// tile reaches all the way round). It is the yardstick the library's tile
// writer must match byte for byte (tests) and beat in speed (benchmark).
#ifndef ORVEX_TESTS_GRID_REFERENCE_H
#define ORVEX_TESTS_GRID_REFERENCE_H

#include "Orvex.h"

// Writes tile `output_tile` of resolution `output_resolution` of the output
// object `out` in the plainest way, step by step. Returns 0, or -1
// on any failure (no message).
int grid_reference_write_tile(Orvex *out, int output_resolution, int output_tile, double gamma,
                              double lightmin);
// Every tile of every resolution, as writeDataGrid.
int grid_reference_write_all(Orvex *out, double gamma, double lightmin);

#endif
