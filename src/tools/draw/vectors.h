// The vector layer's two calls of a picture: how much of every pixel is
// land, and everything drawn as lines on top.
#ifndef ORVEX_TOOL_VECTORS_H
#define ORVEX_TOOL_VECTORS_H

#include <vector>

#include "draw.h"

namespace orvexcli {

/* Land fraction of every pixel of the view, 0..255, anti-aliased: land
 * (level 1) and islands in lakes (level 3) count, sea, lakes (2) and ponds
 * (4) do not. `any` is false (and `land` empty) when no filled ring reaches
 * the view. */
struct LandCover {
    std::vector<unsigned char> land;
    bool any = false;
};
void land_cover(const std::vector<Ring> &rings, const View &view, LandCover *out);
/* Everything drawn as lines, anti-aliased, on top of the picture: the
 * coastline once (thin, on the land/water boundary), borders and rivers by
 * family, class and zoom, simplified to the pixel. */
void draw_lines(const std::vector<Ring> &rings, const View &view, orvextool::Image *image);

}  // namespace orvexcli

#endif
