// Vector inputs built in memory for the writer tests: one resolution of one
// tile, host-order points, every array owned (and released) by the object.
#ifndef ORVEX_TEST_VECTOR_INPUTS_H
#define ORVEX_TEST_VECTOR_INPUTS_H

#include <utility>
#include <vector>

#include "OrvexInternal.h"

typedef std::vector<std::pair<int, int>> VectorRing;  // (lon, lat) microdegrees

struct VectorTileBox {
    double lonmin, lonmax, latmin, latmax;
};

// Makes `o` an input of one vector resolution (data type 0, lattice from
// -180, 90 with steps 360, -180) whose one tile has the given box and one
// segment of level 1 per ring. With map_type 0 the resolution is a grid
// without data, for the tests of refusals.
void vector_memory_input(Orvex &o, const VectorTileBox &box, const std::vector<VectorRing> &rings,
                         long map_type = ORVEX_MAP_VECTOR);

#endif
