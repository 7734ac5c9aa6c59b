// Geographic regions given as W/E/S/N in degrees. A region whose east edge
// is not east of its west edge crosses the 180 degree meridian; it is kept
// with east = given east + 360 so that east > west always holds.
#ifndef ORVEX_TOOL_REGION_H
#define ORVEX_TOOL_REGION_H

#include <string>

namespace orvextool {

struct Region {
    double west = -180, east = 180, south = -90, north = 90;
    double width() const { return east - west; }
    double height() const { return north - south; }
};

/* Parses "W/E/S/N". On failure returns false and says why in *why. */
bool parse_region(const char *text, Region *region, std::string *why);
/* Image height in pixels for a region drawn `width` pixels wide with square
 * degree pixels; at least 1. */
long region_height_px(const Region &region, long width);

}  // namespace orvextool

#endif
