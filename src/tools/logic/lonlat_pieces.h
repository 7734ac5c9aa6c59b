// Rings and lines of unwrapped longitudes turned into pieces that GIS
// formats accept: every longitude within -180..180. A ring that crosses
// the 180 degree meridian is cut there into polygons closed along it; a
// ring that goes round the Earth is first closed along its pole. Points are
// (longitude, latitude) in degrees, as PixelPoint's x and y.
#ifndef ORVEX_TOOL_LONLAT_PIECES_H
#define ORVEX_TOOL_LONLAT_PIECES_H

#include <vector>

#include "raster.h"

namespace orvextool {

using LonLatLine = std::vector<PixelPoint>;

/* The polygons a ring outlines, each a closed ring (last point equal to
 * the first), counter-clockwise, with every longitude within -180..180 and
 * no two pieces overlapping. `ring` holds longitudes unwrapped along it
 * (each within half a turn of the one before, any number of turns from
 * zero), closed or not. A ring whose ends lie more than half a turn apart
 * goes round a pole and is closed along it (close_ring_over_pole); a ring
 * reaching past +-180 (or +-540...) is cut at that meridian and each piece
 * turned back by whole turns. Rings of fewer than three distinct points or
 * of no area give no piece. */
std::vector<LonLatLine> ring_pieces(LonLatLine ring);

/* The lines a line of unwrapped longitudes makes within -180..180: cut
 * where it crosses +-180 (or +-540...), each run turned back by whole
 * turns. Runs keep their order; a run of one point is left out. */
std::vector<LonLatLine> line_pieces(const LonLatLine &line);

}  // namespace orvextool

#endif
