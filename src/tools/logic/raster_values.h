// Samples of outside rasters as the map stores them: elevations become
// 16-bit integers (no value -9999, scale and offset applied, rounded,
// clamped), and an affine transform's corner becomes the position of the
// first sample.
#ifndef ORVEX_TOOL_RASTER_VALUES_H
#define ORVEX_TOOL_RASTER_VALUES_H

#include <string>

namespace orvextool {

struct ElevationScale {
    bool has_nodata = false;
    double nodata = 0;
    double scale = 1, offset = 0;
};

struct SampleCounts {
    long nodata = 0;  /* the no-data value or NaN */
    long clamped = 0; /* beyond -32768..32767 once scaled and rounded */
};

/* The elevation stored for a raw sample: -9999 for no value, else
 * raw * scale + offset rounded half away from zero and clamped to the
 * 16-bit range (counted in *counts). */
short elevation_sample(double raw, const ElevationScale &scale, SampleCounts *counts);

/* Rows read at once: whole blocks of `block_rows` rows of `row_bytes`
 * bytes while they fit `budget` bytes, else as many rows as fit; at least
 * one row. */
long strip_rows(long block_rows, long row_bytes, long budget);

/* Columns read at once from a raster `cols` wide whose samples take
 * `col_bytes` bytes when read: all of them, or `most` when given (> 0),
 * while one row of them fits `budget` bytes; else as many whole blocks of
 * `block_cols` columns as fit, or as many columns as fit when not even one
 * block does; at least one column. Memory then follows the budget however
 * wide the raster is. */
long piece_cols(long cols, long block_cols, long col_bytes, long most, long budget);

/* Position of the first sample (row 0, column 0) and the steps, degrees,
 * from an affine transform whose origin is the outer corner of the first
 * cell: the sample lies at the cell's centre. */
struct GridPlacement {
    double lon, dlon, lat, dlat;
};
GridPlacement first_sample(const double transform[6]);
/* The transform of cells centred on the samples of a placement. */
void cell_transform(const GridPlacement &p, double transform[6]);

/* True when the sample centres of a transform (cells as above) can be
 * degrees on the Earth: latitudes between the poles, longitudes from -360
 * to 720 spanning at most a turn and a cell (grids kept from 20 to 380
 * degrees, say). */
bool centres_on_earth(const double transform[6], long cols, long rows);

/* The samples i of 0..n-1, at start + i * step, that lie from lo to hi
 * (both included, to a millionth of a step): *first and *count, 0 when
 * none do. */
void samples_within(double start, double step, long n, double lo, double hi, long *first, long *count);

/* The GDAL driver for an output named `path`, from its suffix: grids
 * (.tif, .tiff: Cloud-Optimized GeoTIFF; .nc, .png, .img, .gpkg) or
 * vectors (.gpkg, .geojson, .json, .fgb); empty when the suffix does not
 * tell. */
std::string driver_for_suffix(const std::string &path, bool vector);

}  // namespace orvextool

#endif
