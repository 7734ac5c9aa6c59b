// Names of the layers an export writes, made valid for the format.
#ifndef ORVEX_TOOL_LAYER_NAME_H
#define ORVEX_TOOL_LAYER_NAME_H

#include <string>

namespace orvextool {

/* The layer name for a resolution called `name` in a file of GDAL driver
 * `driver`: the name itself where the format allows it, "segments" for an
 * empty one. GeoPackage keeps names beginning with "gpkg" (any case) for
 * its own tables: those get "res_" in front. */
std::string layer_name_for(const std::string &driver, const std::string &name);

}  // namespace orvextool

#endif
