// The vector layer's two calls made from the level raster and the 1-pixel
// lines, until anti-aliased ones replace them.
#include "vectors.h"

namespace orvexcli {

void land_cover(const std::vector<Ring> &rings, const View &view, LandCover *out)
{
    VectorLayer layer;
    rasterise_vectors(rings, view, &layer);
    out->any = layer.any_fill;
    out->land.clear();
    if (!out->any) return;
    out->land.resize(layer.levels.size());
    for (size_t k = 0; k < layer.levels.size(); k++)
        out->land[k] = layer.levels[k] == 1 || layer.levels[k] == 3 ? 255 : 0;
}

void draw_lines(const std::vector<Ring> &rings, const View &view, orvextool::Image *image)
{
    VectorLayer layer;
    rasterise_vectors(rings, view, &layer);
    layer.any_fill = false;
    compose_vectors(layer, true, image);
}

}  // namespace orvexcli
