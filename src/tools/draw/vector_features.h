// The segments of a vector resolution as features GIS programs accept:
// polygons and lines in degrees with every longitude within -180..180.
// The export writes them; anything else that hands a vector resolution to
// GIS software can too, without the command line.
#ifndef ORVEX_TOOL_VECTOR_FEATURES_H
#define ORVEX_TOOL_VECTOR_FEATURES_H

#include <functional>
#include <vector>

#include "Orvex.h"
#include "lonlat_pieces.h"

namespace orvexcli {

/* The points of a segment as (longitude, latitude) degrees, unwrapped
 * along it (GSHHS inputs hold them big-endian). */
std::vector<orvextool::PixelPoint> segment_lonlat(const OrvexVectorSegment &seg, bool big_endian);

/* A segment's pieces within -180..180: rings when `filled`, lines
 * otherwise (see VectorFeature). */
std::vector<orvextool::LonLatLine> segment_parts(const OrvexVectorSegment &seg, bool big_endian, bool filled);

/* One segment of a resolution. A filled one (three points or more, of a
 * filled tile or segment) is `parts` polygons, each a closed ring without
 * holes (lakes are features of their own, a level higher); a line is
 * `parts` lines. A filled segment of no area, or a line of one point, has
 * no parts. */
struct VectorFeature {
    const OrvexVectorSegment *segment;
    long tile;
    int level;
    bool filled;
    std::vector<orvextool::LonLatLine> parts;
};

/* Calls `each` once for every segment of a vector resolution that `wanted`
 * accepts (every one without it): a segment the map keeps in several tiles
 * comes once. Stops at the first non-zero answer and returns it; 0 when
 * all went through, -1 when `res` is no vector resolution. */
int for_each_feature(const OrvexResolution &res, const std::function<bool(const OrvexVectorSegment &)> &wanted,
                     const std::function<int(const VectorFeature &)> &each);

}  // namespace orvexcli

#endif
