// Which resolutions a picture shows, and the picture itself: the grid
// first, then the vector layer over it. `orvex render` and the tiles of
// `orvex serve` both draw through here.
#include <math.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "map_records.h"
#include "palette.h"
#include "draw.h"
#include "vectors.h"

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

GridRows one_grid(int grid, const View &view)
{
    GridRows out;
    if (grid < 0) return out;
    out.grids.push_back(grid);
    out.weights.emplace_back(static_cast<size_t>(view.height + 2), 1.0f);
    return out;
}

std::vector<float> latitude_weights(const std::vector<double> &spacings, double ground)
{
    const double fade = 0.25;
    std::vector<float> w(spacings.size(), 0.0f);
    if (spacings.empty()) return w;
    size_t k = 0;
    while (k + 1 < spacings.size() && spacings[k + 1] <= ground * (1 + 1e-9)) k++;
    double t = k > 0 ? (ground / spacings[k] - 1) / fade : 1;
    if (t >= 1) {
        w[k] = 1;
    } else {
        w[k] = static_cast<float>(t);
        w[k - 1] = 1 - w[k];
    }
    return w;
}

GridRows grids_by_latitude(Orvex &map, const std::vector<int> &candidates, const View &view)
{
    std::vector<std::pair<double, int>> sorted;
    for (int g : candidates) {
        const OrvexGrid *grid = grid_of(map.frame.resolutions[g]);
        if (grid && fabs(grid->dlat) > 0) sorted.emplace_back(fabs(grid->dlat), g);
    }
    std::sort(sorted.begin(), sorted.end());
    std::vector<double> spacings;
    for (const auto &s : sorted) spacings.push_back(s.first);
    std::vector<std::vector<float>> per_grid(sorted.size(), std::vector<float>(static_cast<size_t>(view.height + 2)));
    for (long j = -1; j <= view.height; j++) {
        double ground = view.dlon() * (view.mercator ? cos(view.lat_at(j + 0.5) * M_PI / 180.0) : 1.0);
        std::vector<float> w = latitude_weights(spacings, ground);
        for (size_t k = 0; k < w.size(); k++) per_grid[k][static_cast<size_t>(j + 1)] = w[k];
    }
    GridRows out;
    for (size_t k = 0; k < sorted.size(); k++) {
        bool used = false;
        for (float v : per_grid[k]) used = used || v > 0;
        if (!used) continue;
        out.grids.push_back(sorted[k].second);
        out.weights.push_back(std::move(per_grid[k]));
    }
    return out;
}

PictureChoice web_tile_choice(Orvex &map, const View &view, int layer)
{
    PictureChoice out;
    if (layer >= 0 && layer < map.frame.nresolutions && vector_of(map.frame.resolutions[layer])) {
        out.vectors.push_back(layer);
        return out;
    }
    if (layer >= 0) {
        out.grid = one_grid(layer, view);
    } else {
        /* Elevations, or colours on a map without them. */
        std::vector<int> grids = resolutions_of_type(map, ORVEX_MAP_GRID, 1);
        if (grids.empty()) grids = resolutions_of_type(map, ORVEX_MAP_GRID, -1);
        out.grid = grids_by_latitude(map, grids, view);
    }
    out.vectors = auto_vectors(map, view.dlon());
    return out;
}

int draw_picture(const std::vector<Orvex *> &maps, const Layers &layers, const View &view,
                 orvextool::Image *image, const std::function<void(long, long)> &progress)
{
    bool over_grid = !layers.grid.grids.empty();
    *image = orvextool::Image(view.width, view.height, over_grid ? orvextool::nodata_colour() : orvextool::Rgb{170, 205, 235});
    LandCover cover;
    bool rings = layers.rings && !layers.rings->empty();
    if (rings) land_cover(*layers.rings, view, &cover);
    if (over_grid && draw_grid(maps, layers.grid, view, &cover, image, progress) != 0) return -1;
    if (!over_grid && cover.any) {
        /* Without a grid, land and water colours blended by the land fraction. */
        const orvextool::Rgb water = orvextool::level_colour(2), land = orvextool::level_colour(1);
        for (size_t k = 0; k < cover.land.size(); k++)
            image->pixels[k] = orvextool::blend(land, water, (255 - cover.land[k]) / 255.0);
    }
    if (rings) draw_lines(*layers.rings, view, image);
    return 0;
}

}  // namespace orvexcli
