// Lines on the default map at the smallest scales, where they crowd most:
// the share of land pixels each family's lines change (by more than 10 of
// 255 in some channel) over every web tile of zoom 0, 1 and 2, printed,
// and held to at most 2 % for rivers and 3 % for borders at zoom 0 and 1.
// The map is found as maps/orx/default.orx in a folder of ORVEX_DATA (or
// named by ORVEX_LINES_MAP); without it the test is skipped.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "draw.h"
#include "map_timing.h"
#include "palette.h"

using orvexcli::Ring;
using orvextool::Image;
using orvextool::Rgb;
using orvextool::View;

namespace {

std::string default_map()
{
    if (const char *named = getenv("ORVEX_LINES_MAP")) return named;
    return default_map_in_data();
}

int change(Rgb a, Rgb b)
{
    return std::max({abs(a.r - b.r), abs(a.g - b.g), abs(a.b - b.b)});
}

struct Tally {
    long land = 0;
    std::map<std::string, long> changed;
    double cover_ms = 0, lines_ms = 0;
    long tiles = 0;
};

/* Printed only, never compared. */
double cpu_ms(const std::function<void()> &work)
{
    return least_cpu_ms(work, 3);
}

void measure_tile(Orvex &map, const View &view, Tally *tally)
{
    std::vector<Orvex *> maps{&map};
    std::vector<Ring> rings = orvexcli::collect_rings(map, orvexcli::auto_vectors(map, view.dlon()));
    orvexcli::Layers relief;
    relief.grid = orvexcli::one_grid(orvexcli::auto_grid(map, false, view.dlon()), view);
    Image base(1, 1, Rgb{});
    ASSERT_EQ(orvexcli::draw_picture(maps, relief, view, &base), 0);

    orvexcli::LandCover cover;
    tally->cover_ms += cpu_ms([&] { orvexcli::land_cover(rings, view, &cover); });
    ASSERT_TRUE(cover.any);
    tally->lines_ms += cpu_ms([&] {
        Image all = base;
        orvexcli::draw_lines(rings, view, &all);
    });
    tally->tiles++;

    for (const char *family : {"shore", "borders", "rivers"}) {
        std::vector<Ring> own;
        for (const Ring &r : rings)
            if ((r.fill ? std::string("shore") : r.family) == family) own.push_back(r);
        Image im = base;
        orvexcli::draw_lines(own, view, &im);
        for (size_t k = 0; k < im.pixels.size(); k++)
            if (cover.land[k] >= 128) tally->changed[family] += change(im.pixels[k], base.pixels[k]) > 10;
    }
    for (unsigned char c : cover.land) tally->land += c >= 128;
}

}  // namespace

TEST(DrawLinesDefaultMap, LinesCoverLittleLandAtSmallScales)
{
    std::string path = default_map();
    if (path.empty()) GTEST_SKIP() << "no default map in ORVEX_DATA";
    Orvex map;
    ASSERT_EQ(map.setInput(path.c_str(), 0, nullptr), 0) << path;
    for (int z = 0; z <= 2; z++) {
        Tally t;
        for (long x = 0; x < (1L << z); x++)
            for (long y = 0; y < (1L << z); y++) measure_tile(map, orvextool::web_tile_view(z, x, y), &t);
        ASSERT_GT(t.land, 0);
        std::map<std::string, double> share;
        for (const auto &[family, n] : t.changed) share[family] = 100.0 * n / t.land;
        printf("zoom %d: land %ld px; lines change %.2f %% (shore), %.2f %% (borders), %.2f %% (rivers) of it;"
               " %.2f ms cover, %.2f ms lines a tile\n",
               z, t.land, share["shore"], share["borders"], share["rivers"], t.cover_ms / t.tiles, t.lines_ms / t.tiles);
        if (z <= 1) {
            EXPECT_LE(share["rivers"], 2.0) << "zoom " << z;
            EXPECT_LE(share["borders"], 3.0) << "zoom " << z;
        }
        EXPECT_GT(share["shore"], 0.5) << "the coast must still show at zoom " << z;
    }
}
