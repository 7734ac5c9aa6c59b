// Whether a shapefile's coordinates are longitude and latitude on WGS 84,
// as its .prj file says (ESRI's well-known text).
#ifndef ORVEX_TOOL_SHAPEFILE_CRS_H
#define ORVEX_TOOL_SHAPEFILE_CRS_H

#include <string>

namespace orvextool {

/* The .prj file beside a shapefile: NAME.shp gives NAME.prj. */
std::string prj_path_for(const std::string &shp);

/* True when the text of a .prj names geographic coordinates on the WGS 84
 * datum in degrees from Greenwich (the text in any case and spacing), or
 * holds nothing but blanks. Any other text (projected coordinates, another
 * datum, another form of text) is false: such a file needs reprojecting. */
bool prj_is_lonlat_wgs84(const std::string &text);

}  // namespace orvextool

#endif
