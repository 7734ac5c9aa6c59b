// Processor time of the vector half of a web tile on a real map: the land
// cover from the shoreline rings and the lines (coast, borders, rivers)
// drawn over a plain picture, per tile of zoom 0 to 7, with the rings read
// once per set of resolutions as `orvex serve` keeps them.
//
// Usage: bench_draw_lines [MAP]   (default: maps/orx/default.orx in ORVEX_DATA)

#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include "draw.h"
#include "map_timing.h"

namespace {

using orvexcli::Ring;
using orvextool::Image;
using orvextool::Rgb;
using orvextool::View;

struct Tiles {
    int z;
    long x0, x1, y0, y1;
    const char *where;
};

}  // namespace

int main(int argc, char **argv)
{
    std::string path = argc > 1 ? argv[1] : default_map_in_data();
    if (path.empty()) {
        fprintf(stderr, "bench_draw_lines: no map given and none in ORVEX_DATA\n");
        return 2;
    }
    Orvex map;
    if (map.setInput(path.c_str(), 0, nullptr) != 0) {
        fprintf(stderr, "bench_draw_lines: cannot open %s\n", path.c_str());
        return 1;
    }
    const Tiles sets[] = {{0, 0, 0, 0, 0, "world"},         {1, 0, 1, 0, 1, "world"},
                          {2, 0, 3, 0, 3, "world"},         {3, 3, 5, 1, 3, "Europe, Africa"},
                          {4, 7, 9, 4, 5, "northern Europe"}, {5, 15, 17, 10, 11, "central Europe"},
                          {6, 32, 35, 21, 23, "Alps"},       {7, 66, 69, 44, 46, "Alps"}};
    std::map<std::vector<int>, std::vector<Ring>> rings_of;
    printf("zoom  tiles  cover ms/tile  lines ms/tile  where\n");
    for (const Tiles &s : sets) {
        double cover_ms = 0, lines_ms = 0;
        long tiles = 0;
        for (long x = s.x0; x <= s.x1; x++) {
            for (long y = s.y0; y <= s.y1; y++) {
                View view = orvextool::web_tile_view(s.z, x, y);
                std::vector<int> chosen = orvexcli::auto_vectors(map, view.dlon());
                auto found = rings_of.find(chosen);
                if (found == rings_of.end()) found = rings_of.emplace(chosen, orvexcli::collect_rings(map, chosen)).first;
                const std::vector<Ring> &rings = found->second;
                orvexcli::LandCover cover;
                cover_ms += least_cpu_ms([&] { orvexcli::land_cover(rings, view, &cover); }, 5);
                lines_ms += least_cpu_ms([&] {
                    Image image(view.width, view.height, Rgb{200, 210, 180});
                    orvexcli::draw_lines(rings, view, &image);
                }, 5);
                tiles++;
            }
        }
        printf("%4d  %5ld  %13.2f  %13.2f  %s\n", s.z, tiles, cover_ms / tiles, lines_ms / tiles, s.where);
    }
    return 0;
}
