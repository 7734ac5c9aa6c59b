// Where an exported grid lands: which rows and columns of the resolution
// are written, in which order, and the affine transform of the raster's
// cells (centred on the samples). Everything that writes a resolution as a
// georeferenced raster takes its placement from here, so that the same
// grid is georeferenced the same way by every writer.
#ifndef ORVEX_TOOL_EXPORT_LAYOUT_H
#define ORVEX_TOOL_EXPORT_LAYOUT_H

#include <string>

#include "region.h"

namespace orvextool {

/* A grid's lattice: the first sample's position, the steps, the counts. */
struct GridGeometry {
    double lon_start = 0, dlon = 0, lat_start = 0, dlat = 0;
    long nlon = 0, nlat = 0;
};

/* The raster an export writes: rows row0..row0+rows-1 of the grid, and
 * `cols` columns where raster column k holds grid column (col0 + k) mod
 * nlon (a whole-circle grid wraps past its last column). transform[] is
 * GDAL's: corner of the first cell, steps, no rotation. rows or cols is 0
 * when nothing is exported. */
struct ExportLayout {
    long row0 = 0, rows = 0, col0 = 0, cols = 0;
    double transform[6] = {0, 0, 0, 0, 0, 0};
};

/* True when the columns go once round the Earth eastwards: nlon steps make
 * 360 degrees (to a hundredth of a step: spacings
 * given to six digits still close the circle), so that the column after the
 * last is the first again. */
bool whole_circle(const GridGeometry &g);

/* The layout of an export of `g`, whole or of the samples within `region`
 * (null: whole). A whole-circle grid starts at its first sample at or east
 * of -180 degrees (of the region's west edge), wrapping round, so that a
 * grid kept from 0 to 360 degrees comes out from -180 to 180 and a region
 * across the grid's own seam is whole; `keep_columns` keeps the stored
 * order and longitudes instead (a region then meets the grid in one run
 * of columns, in either half-turn of longitudes). */
ExportLayout export_layout(const GridGeometry &g, const Region *region, bool keep_columns);

/* The world file beside a raster at `path`: the suffix's first and last
 * letters and 'w' ("x.png" -> "x.pgw"), or "x.wld" without a suffix, as
 * GDAL looks for them. */
std::string world_file_name(const std::string &path);

/* The name beside `final_path` of a file a writer made beside its
 * temporary name `temp_path` (".NAME.tmp-PID", as every output is written)
 * and named after it: the temporary name with a suffix added (".aux.xml")
 * gets the same suffix after the final name; the temporary name with its
 * last suffix replaced (".x.asc.prj" for the projection of ".x.asc.tmp-PID")
 * gets the final name with its suffix replaced ("x.prj"). Empty when the
 * file is named otherwise or lies in another folder. */
std::string side_file_name(const std::string &file, const std::string &temp_path, const std::string &final_path);

}  // namespace orvextool

#endif
