// Map files crafted byte by byte, for tests of the reader, and a temporary
// folder that cleans up after itself.
#ifndef ORVEX_TESTS_MAP_BYTES_H
#define ORVEX_TESTS_MAP_BYTES_H

#include <stdint.h>

#include <string>
#include <vector>

#include "Orvex.h"
#include "test_common.h"

namespace orvex_test {

// Appends little-endian images of the file's records to a byte vector.
class MapBytes {
public:
    std::vector<unsigned char> bytes;

    MapBytes &header(int64_t nresolutions, const char *magic = "ORX0    ");
    // A resolution record with the given map type and tile lattice; the
    // other fields take plausible values.
    MapBytes &resolution(int64_t map_type, int64_t nlon_tiles, int64_t nlat_tiles,
                         int64_t ntiles = -1, const char *name = "res");
    MapBytes &gridHeader(int64_t nlon_per_tile, int64_t nlat_per_tile, int64_t compressed = 0,
                         int64_t content = 1);
    MapBytes &gridTile(int64_t zmin, int64_t zmax, uint64_t nbuf, int64_t offset);
    MapBytes &vectorHeader(double lonmin, double lonmax, double latmin, double latmax);
    MapBytes &vectorTile(int64_t fill, int64_t nsegments);
    MapBytes &segment(int32_t level, int32_t fill, int64_t npts, int64_t offset);
    MapBytes &raw(const void *data, size_t n);
    MapBytes &i32(int32_t v) { return raw(&v, 4); }
    MapBytes &i64(int64_t v) { return raw(&v, 8); }
    MapBytes &f64(double v) { return raw(&v, 8); }
    MapBytes &zeros(size_t n);
    // Overwrites 8 bytes at a position with a 64-bit value.
    void patch64(size_t position, int64_t v);
    size_t size() const { return bytes.size(); }
};

// A valid map file with one grid resolution of two tiles (one compressed,
// one not... both raw here), one vector resolution of one tile with two
// segments, and one resolution of unknown map type: used by the truncation
// and corruption tests.
std::vector<unsigned char> sampleMapFile();

}  // namespace orvex_test

#endif
