// Which resolutions a picture shows, and the picture itself: the grid
// first, then the vector layer over it. `orvex render` and the tiles of
// `orvex serve` both draw through here.
#include <map>
#include <string>
#include <vector>

#include "map_records.h"
#include "palette.h"
#include "draw.h"

namespace orvexcli {

namespace {

bool has_filled_tile(const OrvexResolution &r)
{
    const OrvexVector *v = vector_of(r);
    for (long t = 0; v && v->tiles && t < r.ntiles; t++)
        if (v->tiles[t].fill) return true;
    return false;
}

int best_of(Orvex &map, const std::vector<int> &candidates, double pixel_degrees)
{
    std::vector<double> spacings;
    for (int i : candidates) spacings.push_back(map.frame.resolutions[i].degrees_per_pixel);
    int k = orvextool::best_spacing(spacings, pixel_degrees);
    return k < 0 ? -1 : candidates[static_cast<size_t>(k)];
}

}  // namespace

std::vector<int> resolutions_of_type(Orvex &map, long map_type, long content)
{
    std::vector<int> out;
    for (int i = 0; i < static_cast<int>(map.frame.nresolutions); i++) {
        const OrvexResolution &r = map.frame.resolutions[i];
        if (r.map_type != map_type || !r.data) continue;
        if (content >= 0 && (static_cast<OrvexGrid *>(r.data)->content == 1) != (content == 1)) continue;
        out.push_back(i);
    }
    return out;
}

int auto_grid(Orvex &map, bool colour, double pixel_degrees)
{
    std::vector<int> preferred = resolutions_of_type(map, ORVEX_MAP_GRID, colour ? 0 : 1);
    if (preferred.empty()) preferred = resolutions_of_type(map, ORVEX_MAP_GRID, -1);
    return best_of(map, preferred, pixel_degrees);
}

std::vector<int> auto_vectors(Orvex &map, double pixel_degrees)
{
    /* The best-fitting area layer (shorelines), and the best-fitting line
     * layer of each family (borders, rivers: the name up to its last '-'),
     * each among its own kind. */
    std::vector<std::vector<int>> kinds(1);
    std::map<std::string, size_t> families;
    for (int k : resolutions_of_type(map, ORVEX_MAP_VECTOR, -1)) {
        const OrvexResolution &r = map.frame.resolutions[k];
        size_t kind = 0;
        if (!has_filled_tile(r)) {
            kind = families.emplace(orvextool::layer_family(r.name), kinds.size()).first->second;
            if (kind == kinds.size()) kinds.emplace_back();
        }
        kinds[kind].push_back(k);
    }
    std::vector<int> out;
    for (const std::vector<int> &kind : kinds) {
        int best = best_of(map, kind, pixel_degrees);
        if (best >= 0) out.push_back(best);
    }
    return out;
}

int draw_picture(const std::vector<Orvex *> &maps, const Layers &layers, const View &view, const CacheBudget &budget,
                 orvextool::Image *image, const std::function<void(long, long)> &progress)
{
    bool over_grid = layers.grid >= 0;
    *image = orvextool::Image(view.width, view.height, over_grid ? orvextool::nodata_colour() : orvextool::Rgb{170, 205, 235});
    if (over_grid && draw_grid(maps, layers.grid, view, budget, image, progress) != 0) return -1;
    if (layers.rings && !layers.rings->empty()) {
        LandCover cover;
        land_cover(*layers.rings, view, &cover);
        /* Water where the shoreline says so, blended by the land fraction;
         * over a grid the water keeps some of its depth shading. */
        const orvextool::Rgb water = orvextool::level_colour(2), land = orvextool::level_colour(1);
        for (size_t k = 0; k < cover.land.size(); k++) {
            double wet = (255 - cover.land[k]) / 255.0;
            orvextool::Rgb &px = image->pixels[k];
            px = over_grid ? orvextool::blend(px, water, 0.6 * wet) : orvextool::blend(land, water, wet);
        }
        draw_lines(*layers.rings, view, image);
    }
    return 0;
}

}  // namespace orvexcli
