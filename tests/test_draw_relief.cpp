// The relief under a picture: interpolation between samples on the tiles'
// own buffers, hill shading of a known surface, the grid chosen by
// latitude, no seam across tile edges, 180 degrees or a change of grid,
// no-data that never bleeds, and the PNG bytes.
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>

#include <functional>
#include <string>
#include <vector>

#include "Orvex.h"
#include "draw.h"
#include "lattice.h"
#include "palette.h"
#include "vectors.h"

namespace {

using orvexcli::Layers;
using orvextool::Image;
using orvextool::Rgb;
using orvextool::View;

/* One hand-made elevation grid: samples at lat0 - r * step, lon0 + c * step,
 * held uncompressed in tiles of `per_tile` x `per_tile` samples. */
struct GridShape {
    double lat0, lon0, step;
    long tile_rows, tile_cols, per_tile;
};

/* A map object whose grids are made from z(lat, lon) (NODATA allowed). */
class FakeMap {
public:
    FakeMap(const std::vector<GridShape> &shapes, const std::function<int(double, double)> &z)
    {
        map.frame.nresolutions = static_cast<long>(shapes.size());
        map.frame.resolutions = static_cast<OrvexResolution *>(calloc(shapes.size(), sizeof(OrvexResolution)));
        payloads.resize(shapes.size());
        for (size_t k = 0; k < shapes.size(); k++) add(k, shapes[k], z);
    }
    Orvex map;

private:
    void add(size_t k, const GridShape &s, const std::function<int(double, double)> &z)
    {
        OrvexResolution &res = map.frame.resolutions[k];
        res.map_type = ORVEX_MAP_GRID;
        res.data_type = ORVEX_DATA_ORX;
        res.degrees_per_pixel = s.step;
        res.nlat_tiles = s.tile_rows;
        res.nlon_tiles = s.tile_cols;
        res.ntiles = s.tile_rows * s.tile_cols;
        res.lat_start_tiles = s.lat0;
        res.lon_start_tiles = s.lon0;
        res.dlat_tiles = -s.step * static_cast<double>(s.per_tile);
        res.dlon_tiles = s.step * static_cast<double>(s.per_tile);
        OrvexGrid *g = static_cast<OrvexGrid *>(calloc(1, sizeof(OrvexGrid)));
        g->content = 1;
        g->decimation_factor = 1;
        g->lat_start = s.lat0;
        g->lon_start = s.lon0;
        g->dlat = -s.step;
        g->dlon = s.step;
        g->nlat_per_tile = g->nlon_per_tile = s.per_tile;
        g->nlat = s.per_tile * s.tile_rows;
        g->nlon = s.per_tile * s.tile_cols;
        g->tiles = static_cast<OrvexGridTile *>(calloc(static_cast<size_t>(res.ntiles), sizeof(OrvexGridTile)));
        payloads[k].resize(static_cast<size_t>(res.ntiles));
        for (long t = 0; t < res.ntiles; t++) {
            std::vector<unsigned char> &p = payloads[k][static_cast<size_t>(t)];
            for (long r = 0; r < s.per_tile; r++) {
                for (long c = 0; c < s.per_tile; c++) {
                    long row = t / s.tile_cols * s.per_tile + r, col = t % s.tile_cols * s.per_tile + c;
                    int v = z(s.lat0 - static_cast<double>(row) * s.step, s.lon0 + static_cast<double>(col) * s.step);
                    p.push_back(static_cast<unsigned char>(v & 0xff));
                    p.push_back(static_cast<unsigned char>((v >> 8) & 0xff));
                }
            }
            g->tiles[t].buf = p.data();
            g->tiles[t].nbuf = p.size();
        }
        res.data = g;
    }
    std::vector<std::vector<std::vector<unsigned char>>> payloads;
};

View plate(double west, double east, double south, double north, long width, long height)
{
    View v;
    v.region.west = west;
    v.region.east = east;
    v.region.south = south;
    v.region.north = north;
    v.width = width;
    v.height = height;
    return v;
}

Image draw(Orvex &map, const orvexcli::GridRows &rows, const View &view)
{
    Layers layers;
    layers.grid = rows;
    Image image(1, 1, Rgb{});
    EXPECT_EQ(orvexcli::draw_picture({&map}, layers, view, &image), 0);
    return image;
}

int channel_gap(Rgb a, Rgb b)
{
    return std::max(abs(a.r - b.r), std::max(abs(a.g - b.g), abs(a.b - b.b)));
}

/* A smooth, hilly surface, all above sea level. */
int hills(double lat, double lon)
{
    return static_cast<int>(lround(1500 + 900 * sin(lon * 0.7) * cos(lat * 0.9) + 300 * sin(lat * 2.1 + lon * 1.3)));
}

TEST(DrawTaps, AxisPositions)
{
    /* Pixels finer than the samples: the four around q, cubic. */
    orvexcli::Taps t = orvexcli::taps_at(2.25, 0.5, 10);
    EXPECT_TRUE(t.inside);
    ASSERT_EQ(t.n, 4);
    EXPECT_EQ(t.index[0], 1);
    EXPECT_EQ(t.index[3], 4);
    EXPECT_FLOAT_EQ(t.weight[0] + t.weight[1] + t.weight[2] + t.weight[3], 1.0f);
    EXPECT_FLOAT_EQ(t.fallback[1], 0.75f);
    EXPECT_FLOAT_EQ(t.fallback[2], 0.25f);
    /* Pixels three samples wide: a tent over 2.25 +- 3, weights 1 - |k - q| / 3
     * normalised, none negative. */
    t = orvexcli::taps_at(2.25, 3, 10);
    ASSERT_EQ(t.n, 6);
    EXPECT_EQ(t.index[0], 0);
    EXPECT_EQ(t.index[5], 5);
    double sum = 0;
    for (int k = 0; k < t.n; k++) sum += 1 - fabs(t.index[k] - 2.25) / 3;
    for (int k = 0; k < t.n; k++) {
        EXPECT_NEAR(t.weight[k], (1 - fabs(t.index[k] - 2.25) / 3) / sum, 1e-6);
        EXPECT_EQ(t.weight[k], t.fallback[k]);
    }
    /* Very wide pixels keep to kMaxTaps. */
    EXPECT_LE(orvexcli::taps_at(50.5, 40, 100).n, orvexcli::kMaxTaps);
    /* The grid's area: half a step before the first sample to the far
     * edge of the last one's cell; a lattice that wraps has no edge. */
    EXPECT_TRUE(orvexcli::taps_at(-0.5, 1, 10).inside);
    EXPECT_FALSE(orvexcli::taps_at(-0.51, 1, 10).inside);
    EXPECT_TRUE(orvexcli::taps_at(10.0, 1, 10).inside);
    EXPECT_FALSE(orvexcli::taps_at(10.01, 1, 10).inside);
    EXPECT_TRUE(orvexcli::taps_at(-7.5, 1, 10, true).inside);
    EXPECT_FALSE(orvexcli::taps_at(NAN, 1, 10, true).inside);
}

TEST(DrawRelief, PlaneShadesAsTheFormulaSays)
{
    /* z = 40 m per degree east, 25 m per degree south: one slope and
     * aspect everywhere, so every pixel's shading is the same. */
    auto plane = [](double lat, double lon) { return static_cast<int>(lround(1000 + 40 * lon - 25 * lat)); };
    FakeMap fake({{10, -10, 0.5, 2, 2, 20}}, plane);
    View view = plate(-4, 6, -4, 4, 200, 160);
    Image image = draw(fake.map, orvexcli::one_grid(0, view), view);
    int worst = 0;
    for (long j = 0; j < view.height; j++) {
        double dx, dy;
        view.pixel_metres(static_cast<double>(j), &dx, &dy);
        double ex = orvexcli::relief_exaggeration(dx);
        double lat = view.lat_at(j + 0.5);
        double east = 40.0 / (111320.0 * cos(lat * M_PI / 180)) * ex, north = -25.0 / 111320.0 * ex;
        double factor = orvextool::hillshade(east, north);
        for (long i = 0; i < view.width; i++) {
            double z = 1000 + 40 * view.lon_at(i + 0.5) - 25 * lat;
            worst = std::max(worst, channel_gap(image.at(i, j), orvextool::shade(orvextool::elevation_colour(z), factor)));
        }
    }
    EXPECT_LE(worst, 1);
}

/* Mean colour step between horizontally neighbouring pixels whose sample
 * cell changes, over the mean step elsewhere. */
double edge_step_ratio(const Image &image, const View &view, double step, double lon0)
{
    double at_edge = 0, elsewhere = 0;
    long n_edge = 0, n_else = 0;
    for (long j = 0; j < image.height; j++) {
        for (long i = 1; i < image.width; i++) {
            Rgb a = image.pixels[static_cast<size_t>(j * image.width + i - 1)];
            Rgb b = image.pixels[static_cast<size_t>(j * image.width + i)];
            double d = abs(a.r - b.r) + abs(a.g - b.g) + abs(a.b - b.b);
            bool edge = floor((view.lon_at(i - 0.5) - lon0) / step + 0.5) != floor((view.lon_at(i + 0.5) - lon0) / step + 0.5);
            (edge ? at_edge : elsewhere) += d;
            (edge ? n_edge : n_else)++;
        }
    }
    return (at_edge / static_cast<double>(n_edge)) / (elsewhere / static_cast<double>(n_else));
}

TEST(DrawRelief, NoJumpAtSampleEdgesWhenZoomedIn)
{
    /* Eight pixels a sample: a picture per nearest sample steps at every
     * cell edge, an interpolated one does not. */
    FakeMap fake({{10, -10, 0.5, 2, 2, 20}}, hills);
    View view = plate(-4, 4, -4, 4, 128, 128);
    Image image = draw(fake.map, orvexcli::one_grid(0, view), view);
    EXPECT_LT(edge_step_ratio(image, view, 0.5, -10), 1.25);
}

TEST(DrawRelief, NoDataNeverBleeds)
{
    /* West of longitude 0 there is no data; east of it a flat 500 m. */
    auto half = [](double, double lon) { return lon < -0.01 ? static_cast<int>(ORVEX_NODATA) : 500; };
    FakeMap fake({{10, -10, 1, 1, 1, 20}}, half);
    View view = plate(-5, 5, -5, 5, 100, 100);
    Image image = draw(fake.map, orvexcli::one_grid(0, view), view);
    Rgb flat = orvextool::shaded_elevation_colour(500, 1), none = orvextool::nodata_colour();
    for (long j = 0; j < view.height; j++) {
        for (long i = 0; i < view.width; i++) {
            double lon = view.lon_at(i + 0.5);
            Rgb c = image.at(i, j);
            /* Pixels nearer a sample with data than half a step show it
             * unchanged; pixels past the last no-data sample show none. */
            if (lon > -0.5) {
                EXPECT_EQ(channel_gap(c, flat), 0) << i << "," << j;
            }
            if (lon < -1) {
                EXPECT_EQ(channel_gap(c, none), 0) << i << "," << j;
            }
            EXPECT_TRUE(channel_gap(c, flat) == 0 || channel_gap(c, none) == 0) << i << "," << j;
        }
    }
}

TEST(DrawGridChoice, CoarsestAtLeastAsFineAsThePixel)
{
    /* 5', 15' and 1 degree grids under zoom 0 web tiles (1.406 degrees a
     * pixel at the equator). */
    std::vector<double> spacings = {5.0 / 60, 0.25, 1.0};
    double pixel = 360.0 / 256;
    auto chosen = [&](double lat) {
        std::vector<float> w = orvexcli::latitude_weights(spacings, pixel * cos(lat * M_PI / 180));
        return static_cast<int>(std::max_element(w.begin(), w.end()) - w.begin());
    };
    EXPECT_EQ(chosen(0), 2);
    EXPECT_EQ(chosen(60), 1);
    EXPECT_EQ(chosen(80), 0);
    /* Weights sum to one and change gently with latitude: no seam. */
    std::vector<float> last = orvexcli::latitude_weights(spacings, pixel);
    for (double lat = 0; lat < 85; lat += 0.01) {
        std::vector<float> w = orvexcli::latitude_weights(spacings, pixel * cos(lat * M_PI / 180));
        EXPECT_NEAR(w[0] + w[1] + w[2], 1.0, 1e-6);
        for (size_t k = 0; k < w.size(); k++) EXPECT_LT(fabs(w[k] - last[k]), 0.02) << lat;
        last = w;
    }
}

TEST(DrawGridChoice, WebTileRowsByLatitude)
{
    auto flat = [](double, double) { return 100; };
    FakeMap fake({{90, -180, 5.0 / 60, 2, 4, 1080}, {90, -180, 0.25, 1, 2, 720}, {90, -180, 1, 1, 1, 360}}, flat);
    View tile = orvexcli::web_tile_view(0, 0, 0);
    orvexcli::GridRows rows = orvexcli::grids_by_latitude(fake.map, {2, 0, 1}, tile);
    auto weight_at = [&](int grid, double lat) {
        long j = static_cast<long>(tile.y_of(lat));
        for (size_t k = 0; k < rows.grids.size(); k++)
            if (rows.grids[k] == grid) return rows.weights[k][static_cast<size_t>(j + 1)];
        return 0.0f;
    };
    EXPECT_FLOAT_EQ(weight_at(2, 0), 1);
    EXPECT_FLOAT_EQ(weight_at(1, 60), 1);
    EXPECT_FLOAT_EQ(weight_at(0, 80), 1);
    EXPECT_FLOAT_EQ(weight_at(0, -80), 1);
}

/* The left and right halves of `both` against pictures a and b. */
int worst_gap(const Image &a, const Image &b, const Image &both)
{
    int worst = 0;
    for (long j = 0; j < a.height; j++) {
        for (long i = 0; i < a.width; i++) {
            worst = std::max(worst, channel_gap(a.pixels[static_cast<size_t>(j * a.width + i)],
                                                both.pixels[static_cast<size_t>(j * both.width + i)]));
            worst = std::max(worst, channel_gap(b.pixels[static_cast<size_t>(j * b.width + i)],
                                                both.pixels[static_cast<size_t>(j * both.width + a.width + i)]));
        }
    }
    return worst;
}

View across(const View &a, const View &b)
{
    View v = a;
    v.region.east = a.region.east + b.region.width();
    v.width = a.width + b.width;
    return v;
}

TEST(DrawSeams, NeighbouringTilesMatchOnePictureAcrossBoth)
{
    /* Three grids, so the tiles also cross latitudes where the grid
     * changes; lattices of 30 degree tiles whose edges fall inside the
     * web tiles. */
    FakeMap fake({{90, 0, 5.0 / 60, 6, 12, 360}, {90, 0, 0.25, 2, 4, 360}, {90, 0, 1, 1, 1, 360}},
                 [](double lat, double lon) { return hills(lat / 4, lon / 4); });
    std::vector<int> grids = {0, 1, 2};
    struct Pair {
        int z;
        long x, y;
    };
    /* Mid-latitudes, high latitudes at zoom 2 (switches of grid), and the
     * 180 degree meridian (the last column of tiles and the first). */
    for (Pair p : {Pair{3, 2, 2}, Pair{2, 1, 0}, Pair{4, 5, 3}}) {
        View a = orvexcli::web_tile_view(p.z, p.x, p.y), b = orvexcli::web_tile_view(p.z, p.x + 1, p.y);
        View both = across(a, b);
        Image ia = draw(fake.map, orvexcli::grids_by_latitude(fake.map, grids, a), a);
        Image ib = draw(fake.map, orvexcli::grids_by_latitude(fake.map, grids, b), b);
        Image iboth = draw(fake.map, orvexcli::grids_by_latitude(fake.map, grids, both), both);
        EXPECT_LE(worst_gap(ia, ib, iboth), 1) << p.z << "/" << p.x << "/" << p.y;
    }
    long last = 7;
    View a = orvexcli::web_tile_view(3, last, 3), b = orvexcli::web_tile_view(3, 0, 3);
    View both = across(a, b); /* 135 to 225 degrees east */
    Image ia = draw(fake.map, orvexcli::grids_by_latitude(fake.map, grids, a), a);
    Image ib = draw(fake.map, orvexcli::grids_by_latitude(fake.map, grids, b), b);
    Image iboth = draw(fake.map, orvexcli::grids_by_latitude(fake.map, grids, both), both);
    EXPECT_LE(worst_gap(ia, ib, iboth), 1);
}

TEST(DrawSeams, NoStepWhereTheGridChanges)
{
    /* Down a zoom 1 tile the grid changes twice; a step between rows there
     * would stand out from the steps between the other rows. */
    FakeMap fake({{90, 0, 5.0 / 60, 6, 12, 360}, {90, 0, 0.25, 2, 4, 360}, {90, 0, 1, 1, 1, 360}},
                 [](double lat, double lon) { return hills(lat / 8, lon / 8); });
    View tile = orvexcli::web_tile_view(1, 1, 0);
    orvexcli::GridRows rows = orvexcli::grids_by_latitude(fake.map, {0, 1, 2}, tile);
    ASSERT_GE(rows.grids.size(), 2u);
    Image image = draw(fake.map, rows, tile);
    std::vector<double> steps;
    for (long j = 1; j < tile.height; j++) {
        double s = 0;
        for (long i = 0; i < tile.width; i++) s += channel_gap(image.at(i, j), image.at(i, j - 1));
        steps.push_back(s / static_cast<double>(tile.width));
    }
    std::vector<double> sorted = steps;
    std::sort(sorted.begin(), sorted.end());
    double median = sorted[sorted.size() / 2];
    EXPECT_LT(sorted.back(), 3 * median + 1);
}

}  // namespace

namespace {

TEST(DrawColours, ShadedRampRoundsOnceAndSeaStartsBelowZero)
{
    /* Unshaded, the ramp at whole metres within rounding; shaded, the
     * ramp's exact value times the factor, rounded once. */
    for (int m = -11500; m <= 9500; m += 7)
        ASSERT_LE(channel_gap(orvextool::shaded_elevation_colour(m, 1), orvextool::elevation_colour(m)), 1) << m;
    /* 150 m: halfway from (60, 130, 70) to (120, 170, 90); times 1.2. */
    Rgb c = orvextool::shaded_elevation_colour(150, 1.2);
    EXPECT_EQ(c.r, 108);
    EXPECT_EQ(c.g, 180);
    EXPECT_EQ(c.b, 96);
    /* Just below sea level is sea, not the land at 0. */
    EXPECT_EQ(channel_gap(orvextool::shaded_elevation_colour(-0.4, 1), orvextool::elevation_colour(-1)), 0);
    EXPECT_EQ(channel_gap(orvextool::water_colour(5), orvextool::water_colour(0)), 0);
}

}  // namespace

namespace {

TEST(DrawCover, LandAndWaterFromTheCoverNotTheSign)
{
    /* The relief says sea (-50 m) in the west and land (200 m) in the east;
     * the cover says land in the west, water in the east, and half of each
     * in one column. The cover wins (water above sea level is a lake, one
     * flat colour); the half column blends the two. */
    auto relief = [](double, double lon) { return lon < 0 ? -50 : 200; };
    FakeMap fake({{10, -10, 0.25, 1, 1, 80}}, relief);
    View view = plate(-4, 4, -4, 4, 80, 80);
    orvexcli::LandCover cover;
    cover.any = true;
    cover.land.assign(80 * 80, 0);
    for (long j = 0; j < 80; j++) {
        for (long i = 0; i < 40; i++) cover.land[static_cast<size_t>(j * 80 + i)] = 255;
        cover.land[static_cast<size_t>(j * 80 + 60)] = 128;
    }
    Image image(80, 80, Rgb{});
    ASSERT_EQ(orvexcli::draw_grid({&fake.map}, orvexcli::one_grid(0, view), view, &cover, &image), 0);
    Rgb land = orvextool::elevation_colour(0), water = orvextool::water_colour(0);
    for (long j = 0; j < 80; j++) {
        /* Away from the step in the relief, where shading is flat. */
        EXPECT_EQ(channel_gap(image.at(10, j), land), 0) << j;
        EXPECT_EQ(channel_gap(image.at(70, j), water), 0) << j;
        Rgb half = orvextool::blend(water, orvextool::elevation_colour(200), 128 / 255.0);
        EXPECT_LE(channel_gap(image.at(60, j), half), 1) << j;
    }
}

}  // namespace
