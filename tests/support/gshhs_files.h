// Small GSHHS shoreline files for the tests, in either header layout.
#ifndef ORVEX_TEST_GSHHS_FILES_H
#define ORVEX_TEST_GSHHS_FILES_H

#include <string>
#include <utility>
#include <vector>

struct GshhsPolygon {
    int id = 0;
    int level = 1;                              // bits 0 to 7 of the flag word
    std::vector<std::pair<int, int>> points;    // (lon, lat) microdegrees
    bool override_count = false;                // store `count` as n instead of the size
    int count = 0;
};

enum class GshhsLayout { Old36, New44 };

// The bytes of a file holding the polygons in order. The old layout stores
// the level alone in the flag word (version 0); the new one adds version 7.
std::string gshhs_file_bytes(const std::vector<GshhsPolygon> &polygons, GshhsLayout layout);

// A polygon from degree pairs.
GshhsPolygon gshhs_polygon(int id, int level, const std::vector<std::pair<double, double>> &deg);

#endif
