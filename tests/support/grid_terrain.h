// Synthetic grids for the grid tests and the grid benchmark: terrain with
// ridges and valleys, a no-data sea over about half of it, and colours.
#ifndef ORVEX_TESTS_GRID_TERRAIN_H
#define ORVEX_TESTS_GRID_TERRAIN_H

#include <stdint.h>

#include <string>
#include <vector>

// nlat x nlon elevations, row-major; about half of them -9999 (sea).
std::vector<int16_t> grid_terrain(long nlat, long nlon, unsigned salt);
// nlat x nlon colours, three bytes each.
std::vector<uint8_t> grid_colours(long nlat, long nlon, unsigned salt);

// Writes a raw elevation grid and its parameter file ("<path>.pf");
// big-endian samples and "bigendian yes" when asked.
void grid_write_dem(const std::string &path, const std::vector<int16_t> &samples, long nlat,
                    long nlon, double lat, double dlat, double lon, double dlon, bool bigendian);
// Writes a raw colour grid and its parameter file.
void grid_write_rgb(const std::string &path, const std::vector<uint8_t> &pixels, long nlat,
                    long nlon, double lat, double dlat, double lon, double dlon);
// Writes a parameter file of the given text beside `data_path`.
void grid_write_pf(const std::string &data_path, const std::string &text);
void grid_write_bytes(const std::string &path, const void *data, size_t n);
std::vector<uint8_t> grid_read_file(const std::string &path);

#endif
