// Vector resolutions on a picture: shoreline rings become the land cover
// of every pixel, and shorelines, borders and rivers are drawn as lines the
// way a cartographer would, anti-aliased, by family, class and zoom.
#ifndef ORVEX_TOOL_VECTORS_H
#define ORVEX_TOOL_VECTORS_H

#include <memory>
#include <string>
#include <vector>

#include "Orvex.h"
#include "projection.h"
#include "raster.h"

namespace orvexcli {

using orvextool::View;

struct RingIndex;

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
    /* Set by collect_rings: where the ring stands among those collected
     * with it, and their index by cells of longitude and latitude, so that
     * a small view need not look at every ring of a detailed map. */
    size_t position = 0;
    std::shared_ptr<const RingIndex> index;
};
/* Sets a ring's boxes, of the whole and of its chunks, from its points. */
void measure_ring(Ring *ring);
/* Numbers the rings and gives them their index (collect_rings does). */
void index_rings(std::vector<Ring> *rings);
std::vector<Ring> collect_rings(Orvex &map, const std::vector<int> &resolutions);

/* Positions, in order, of the rings whose box may reach longitudes
 * west..east (any turn of 360 degrees from them) and latitudes
 * south..north; every position when the rings carry no index of their own
 * (made otherwise than by collect_rings, or reordered since). */
std::vector<size_t> rings_near(const std::vector<Ring> &rings, double west, double east, double south, double north);

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
