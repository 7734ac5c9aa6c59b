// What each GDAL driver makes of an exported grid: whether it holds the
// samples exactly (and with which creation options), and the side files
// that carry the georeferencing of formats that cannot hold it themselves.
#ifndef ORVEX_TOOL_EXPORT_FORMATS_H
#define ORVEX_TOOL_EXPORT_FORMATS_H

#include <string>
#include <vector>

#include "atomic_output.h"
#include "gdal_common.h"

namespace orvexcli {

/* The creation options under which GDAL's `driver` writes the samples of a
 * grid (16-bit elevations, or colours as three bytes) exactly; `table` names
 * the raster inside formats that hold several (a GeoPackage's tile table).
 * Returns 0, or -1 with the reason registered, naming formats that can,
 * when the driver would change the samples or does not exist. */
int exact_raster_options(const std::string &driver, bool colour, const std::string &table, OptionList *options);

/* True when the raster at `path`, read on its own, says where it lies and
 * in which reference system. */
bool georeferenced(const std::string &path);

/* Moves the files a driver wrote beside the group's temporary main file
 * (`files`, as GDAL lists the dataset's files; the main one is skipped)
 * to the temporary names of side files named after the final path (a .prj
 * or .hdr beside it), so that they appear with it. An existing side file
 * is replaced only when `overwrite`. Returns 0, or -1 with the reason
 * registered (a file named otherwise is left where it is, and refused). */
int adopt_driver_files(const std::vector<std::string> &files, OutputGroup &group, bool overwrite);

/* When the raster just written at `written` (the group's temporary main
 * file) does not itself say where it lies and in which reference system,
 * writes a world file and a GDAL .aux.xml named after the group's final
 * path, as side files of the group. An existing side file is replaced only
 * when `overwrite`. Returns 0, or -1 with the reason registered. */
int georeference_beside(const std::string &written, const double transform[6], OutputGroup &group, bool overwrite);

/* The reference system of every export: WGS 84 longitude/latitude. */
void set_wgs84(GDALDatasetH ds);

}  // namespace orvexcli

#endif
