// The display road end to end: a grid resolution sampled pixel by pixel
// through the tile cache, vector resolutions filled or drawn on top, and
// the image written as PNG.
#ifndef ORVEX_TOOL_RENDER_H
#define ORVEX_TOOL_RENDER_H

#include <string>
#include <vector>

#include "Orvex.h"
#include "raster.h"
#include "region.h"

namespace orvexcli {

/* Geometry of the picture: pixel (i, j) covers longitudes from
 * west + i * dlon and latitudes from north - j * dlat. */
struct View {
    orvextool::Region region;
    long width = 0, height = 0;
    double dlon() const { return region.width() / static_cast<double>(width); }
    double dlat() const { return region.height() / static_cast<double>(height); }
};

/* Draws grid resolution `res` over the whole image: elevations with the
 * land/sea ramp and hill shading, colours as they are. The inflated tiles
 * are trimmed to `cache_bytes` row by row. Returns 0, or -1 when a tile
 * cannot be read (message registered). */
int draw_grid(Orvex &map, int res, const View &view, long cache_bytes, orvextool::Image *image);

/* Shoreline levels of every pixel (0 where no filled ring covers it) and
 * the outlines to draw, from the vector resolutions given. */
struct VectorLayer {
    std::vector<unsigned char> levels;
    bool any_fill = false;
    struct Line {
        std::vector<orvextool::PixelPoint> points;
        int level;
        bool outline; /* of a filled ring, else a line of its own */
        orvextool::Rgb colour; /* of a line of its own: its resolution's */
    };
    std::vector<Line> lines;
};
void rasterise_vectors(Orvex &map, const std::vector<int> &resolutions, const View &view, VectorLayer *layer);
/* Puts the vector layer on the image: over a grid, water levels (lakes,
 * ponds) are painted and land keeps the grid; without one every level gets
 * its own colour. Lines and outlines come last. */
void compose_vectors(const VectorLayer &layer, bool over_grid, orvextool::Image *image);

/* Writes the image as an 8-bit RGB PNG. Returns 0, or -1 with a message in
 * *why. */
int write_png(const orvextool::Image &image, const std::string &path, std::string *why);

}  // namespace orvexcli

#endif
