// Vector resolutions on a picture: shoreline rings become the land cover
// of every pixel, and shorelines, borders and rivers are drawn as lines the
// way a cartographer would, anti-aliased, by family, class and zoom.
#ifndef ORVEX_TOOL_VECTORS_H
#define ORVEX_TOOL_VECTORS_H

#include <string>
#include <vector>

#include "Orvex.h"
#include "projection.h"
#include "raster.h"

namespace orvexcli {

using orvextool::View;

/* The segments of some vector resolutions, unwrapped in longitude and
 * sorted for drawing; made once, drawn into any number of views. A filled
 * ring that goes round a pole has its latitude box reaching that pole. */
struct Ring {
    int level;
    bool fill;
    orvextool::Rgb colour; /* of a line of its own: its resolution's */
    std::vector<orvextool::PixelPoint> lonlat;
    double lonmin, lonmax, latmin, latmax;
    std::string family; /* of its resolution: "borders", "rivers", "shore"... */
    /* Longitude and latitude box of each run of kChunk points (the last
     * run shorter), so that a view sees past the runs far from it. */
    static const size_t kChunk = 64;
    std::vector<orvextool::PixelPoint> chunk_min, chunk_max;
};
/* Sets a ring's boxes, of the whole and of its chunks, from its points. */
void measure_ring(Ring *ring);
std::vector<Ring> collect_rings(Orvex &map, const std::vector<int> &resolutions);

/* Land fraction of every pixel of the view, 0..255, anti-aliased: land
 * (level 1) and islands in lakes (level 3) count, sea, lakes (2) and ponds
 * (4) do not. `any` is false (and `land` empty) when no filled ring is
 * given: then nothing says where the land is. With one, a view that no
 * ring's edge crosses is still all sea or all land, so that the open ocean
 * and a continent's interior agree with the tiles beside them. */
struct LandCover {
    std::vector<unsigned char> land;
    bool any = false;
};
void land_cover(const std::vector<Ring> &rings, const View &view, LandCover *out);

/* Everything drawn as lines, anti-aliased, on top of the picture: the
 * coastline once (thin, on the land/water boundary), lake shores where the
 * lake is big enough, borders and rivers by family, class and zoom (see
 * orvextool::line_style), simplified to the pixel. */
void draw_lines(const std::vector<Ring> &rings, const View &view, orvextool::Image *image);

}  // namespace orvexcli

#endif
