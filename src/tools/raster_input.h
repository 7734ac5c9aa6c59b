// Inputs that the map library does not read itself (GeoTIFF, netCDF and
// the other rasters GDAL reads) reach it as raw grids made for the run.
#ifndef ORVEX_TOOL_RASTER_INPUT_H
#define ORVEX_TOOL_RASTER_INPUT_H

#include <memory>
#include <string>

#include "Orvex.h"
#include "gdal_io.h"

namespace orvexcli {

/* True when `path` names an existing file that the library does not open
 * itself and that is left to GDAL. */
bool is_outside_format(const std::string &path);

/* Folder for scratch grids of commands that write no file: TMPDIR or /tmp. */
std::string scratch_parent();

/* Converts the raster `name` in a scratch folder inside `parent` and opens
 * the grid as `input`, whose resolution then names `name` as its source.
 * Returns 0, or fails as fail() does (the exit status). */
int open_raster(const char *command, const std::string &name, const std::string &parent,
                const RasterOptions &options, Orvex *input, std::unique_ptr<RasterGrid> *raster);

/* open_map, with rasters read through GDAL (only their geometry unless
 * `samples`); the raster's scratch grid lives in *raster. */
int open_map_or_raster(const char *command, const char *name, Orvex *map, std::unique_ptr<RasterGrid> *raster,
                       bool samples);

}  // namespace orvexcli

#endif
