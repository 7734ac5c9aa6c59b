// Grid samples where they came from: every output sample of every
// decimation compared with a window computed here by source row and column
// index (no latitude or longitude in between), on steps that are not
// binary fractions, both signs, whole-circle and regional grids, sizes that
// are no whole number of windows, and maps made from any tile of a map.
// Also the nearest-sample look-up and the index helpers it shares with the
// tile writer.

#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "grid_fixtures.h"
#include "grid_terrain.h"
#include "sample_index.h"

namespace {

// A source grid as the test knows it.
struct Source {
    long nlat, nlon;
    double lat, dlat, lon, dlon;
    bool colour = false;
    std::vector<int16_t> z;     // elevations
    std::vector<uint8_t> rgb;   // colours
};

// Values that differ from every neighbour, with scattered no-data, so a
// sample read from the wrong row or column shows. The first 16 x 16 samples
// are no data but for a few of -32768, the lowest elevation (which the
// window maxima must not take for no data).
Source make_source(long nlat, long nlon, double lat, double dlat, double lon, double dlon,
                   bool colour = false)
{
    Source s{nlat, nlon, lat, dlat, lon, dlon, colour, {}, {}};
    if (colour) {
        s.rgb.resize(static_cast<size_t>(nlat * nlon * 3));
        for (long i = 0; i < nlat * nlon; i++)
            for (long k = 0; k < 3; k++)
                s.rgb[static_cast<size_t>(3 * i + k)] = static_cast<uint8_t>((i * (7 + 2 * k) + i / nlon * 13) & 0xff);
        return s;
    }
    s.z.resize(static_cast<size_t>(nlat * nlon));
    for (long r = 0; r < nlat; r++)
        for (long c = 0; c < nlon; c++) {
            long v = (r * 7919 + c * 104729) % 19000 - 9000;
            if ((r * 7 + c * 3) % 11 == 0) v = -9999;
            if (r < 16 && c < 16) v = (r * 3 + c) % 5 == 0 ? -32768 : -9999;
            s.z[static_cast<size_t>(r * nlon + c)] = static_cast<int16_t>(v);
        }
    return s;
}

void write_source(const Source &s, const std::string &path, bool bigendian = false)
{
    if (s.colour)
        grid_write_rgb(path, s.rgb, s.nlat, s.nlon, s.lat, s.dlat, s.lon, s.dlon);
    else
        grid_write_dem(path, s.z, s.nlat, s.nlon, s.lat, s.dlat, s.lon, s.dlon, bigendian);
}

// Columns per turn when the grid reaches all the way round, else 0;
// written here from the definition, not with the library's helper.
long period_of(const Source &s)
{
    long p = static_cast<long>(floor(360.0 / fabs(s.dlon) + 0.5));
    return p >= 1 && p <= s.nlon ? p : 0;
}

// The sample the library must write at output row i, column j of a
// decimation `dec` of the sub-grid of `s` whose corner is source row r0,
// column c0 and whose size is nr x nc: the highest valid elevation (or the
// truncated mean colour) of the centred window, by index alone.
struct Expected {
    int16_t z = -9999;
    uint8_t rgb[3] = {0, 0, 0};
};

Expected expected_sample(const Source &s, long r0, long c0, long nr, long nc, long period,
                         long dec, long i, long j)
{
    long back = dec % 2 ? dec / 2 : (dec + 1) / 2;
    long width = dec % 2 ? dec : dec + 1;
    Expected e;
    long sum[3] = {0, 0, 0}, n = 0;
    for (long y = i * dec - back; y < i * dec - back + width; y++) {
        if (y < 0 || y >= nr) continue;
        for (long x0 = j * dec - back; x0 < j * dec - back + width; x0++) {
            long x = x0;
            if (period) {
                while (x < 0) x += period;
                while (x >= nc) x -= period;
            }
            if (x < 0 || x >= nc) continue;
            size_t k = static_cast<size_t>((r0 + y) * s.nlon + c0 + x);
            if (s.colour) {
                for (int c = 0; c < 3; c++) sum[c] += s.rgb[3 * k + static_cast<size_t>(c)];
                n++;
            } else if (s.z[k] != -9999 && (e.z == -9999 || s.z[k] > e.z)) {
                e.z = s.z[k];
            }
        }
    }
    if (n)
        for (int c = 0; c < 3; c++) e.rgb[c] = static_cast<uint8_t>(sum[c] / n);
    return e;
}

struct Area {
    long r0, c0, nr, nc;  // corner and size in source samples
    long period;
};

// Every sample of resolution `res` of `map` against the expected windows of
// `area`; also the tile index ranges and the header's size and position.
void check_resolution(Orvex *map, int res, const Source &s, const Area &a, long dec)
{
    SCOPED_TRACE("resolution " + std::to_string(res) + ", decimation " + std::to_string(dec));
    OrvexResolution &r = map->frame.resolutions[res];
    const OrvexGrid &g = *static_cast<OrvexGrid *>(r.data);
    ASSERT_EQ(g.decimation_factor, dec);
    // The largest whole number of windows and tiles that fits.
    EXPECT_EQ(g.nlat, a.nr / dec / r.nlat_tiles * r.nlat_tiles);
    EXPECT_EQ(g.nlon, a.nc / dec / r.nlon_tiles * r.nlon_tiles);
    EXPECT_DOUBLE_EQ(g.dlat, dec * s.dlat);
    EXPECT_DOUBLE_EQ(g.dlon, dec * s.dlon);
    // The first sample is the area's corner sample.
    EXPECT_NEAR((g.lat_start - s.lat) / s.dlat, static_cast<double>(a.r0), 1e-6);
    EXPECT_NEAR((g.lon_start - s.lon) / s.dlon, static_cast<double>(a.c0), 1e-6);
    long ss = s.colour ? 3 : 2;
    long bad = 0;
    for (long t = 0; t < r.ntiles; t++) {
        unsigned char *buf;
        ASSERT_EQ(map->getTileGrid(res, static_cast<int>(t), &buf), 0);
        long tr = t / r.nlon_tiles, tc = t % r.nlon_tiles;
        long zmin = -9999, zmax = -9999;
        for (long row = 0; row < g.nlat_per_tile; row++)
            for (long col = 0; col < g.nlon_per_tile; col++) {
                long i = tr * g.nlat_per_tile + row, j = tc * g.nlon_per_tile + col;
                Expected e = expected_sample(s, a.r0, a.c0, a.nr, a.nc, a.period, dec, i, j);
                const unsigned char *p = buf + (row * g.nlon_per_tile + col) * ss;
                if (s.colour) {
                    if (memcmp(p, e.rgb, 3) != 0 && bad++ < 5)
                        ADD_FAILURE() << "colour at " << i << "," << j;
                    continue;
                }
                int16_t v;
                memcpy(&v, p, 2);
                if (v != e.z && bad++ < 5)
                    ADD_FAILURE() << "sample " << i << "," << j << " is " << v << ", not " << e.z;
                if (e.z != -9999) {
                    if (zmin == -9999 || e.z < zmin) zmin = e.z;
                    if (zmax == -9999 || e.z > zmax) zmax = e.z;
                }
            }
        EXPECT_EQ(g.tiles[t].zmin, zmin) << "tile " << t;
        EXPECT_EQ(g.tiles[t].zmax, zmax) << "tile " << t;
    }
    EXPECT_EQ(bad, 0);
}

class GridExact : public GridTest {
protected:
    // A compressed map of the source in rows x cols tiles, opened; null when
    // it cannot be made.
    std::unique_ptr<Orvex> tiled_map(const Source &s, const std::string &name, int rows, int cols)
    {
        std::string src = dir.path(name + ".dem"), tiled = dir.path(name + ".orx");
        write_source(s, src);
        auto raw = grid_open(src);
        if (!raw || grid_build(tiled, raw.get(), {{0, 0, 1, 1, rows, cols}}, false) != 0) return nullptr;
        return grid_open(tiled);
    }
    int serial = 0;
};

struct StepCase {
    const char *what;
    long nlat, nlon;
    double lat, dlat, lon, dlon;
    bool whole_circle, colour, bigendian;
};

// Steps such as real grids have, rounded as their parameter files print
// them, both directions, whole circle and regional; every decimation from
// 1 to 12, tiled and not, compressed and not.
TEST_F(GridExact, EveryDecimationOfEveryStepReadsItsOwnWindow)
{
    const double twelfth = 0.083333333333333, t120 = 0.0083333333333333;
    const double t3600 = 1.0 / 3600;
    const std::vector<StepCase> cases = {
        {"1/12 degree, whole circle, rows south", 31, 4320, 90, -twelfth, -180, twelfth, true, false, false},
        {"0.1 degree, whole circle, rows north, big-endian", 23, 3600, -30, 0.1, 0, 0.1, true, false, true},
        {"0.3 degree, whole circle, columns west", 37, 1200, 10, -0.3, 180, -0.3, true, false, false},
        {"0.5 degree, gridline: both poles, seam column repeated", 361, 721, 90, -0.5, -180, 0.5, true, false, false},
        {"1/120 degree, region", 241, 367, 45, -t120, 10, t120, false, false, false},
        {"1/3600 degree, region, both steps negative", 121, 301, 12, -t3600, -60, -t3600, false, false, false},
        {"0.1 degree colour, whole circle", 25, 3600, 60, -0.1, -180, 0.1, true, true, false},
    };
    for (const StepCase &c : cases) {
        SCOPED_TRACE(c.what);
        Source s = make_source(c.nlat, c.nlon, c.lat, c.dlat, c.lon, c.dlon, c.colour);
        ASSERT_EQ(period_of(s) > 0, c.whole_circle);
        std::string tag = std::to_string(serial++);
        std::string src = dir.path("s" + tag + (c.colour ? ".rgb" : ".dem"));
        write_source(s, src, c.bigendian);
        auto in = grid_open(src);
        ASSERT_TRUE(in);
        std::vector<GridDecl> decls;
        for (long dec = 1; dec <= 12; dec++) {
            int rows = c.nlat / dec >= 2 ? 2 : 1;
            decls.push_back({0, 0, dec, static_cast<int>(dec % 2), rows, 3, true});
        }
        std::string out = dir.path("s" + tag + ".orx");
        ASSERT_EQ(grid_build(out, in.get(), decls, false), 0) << testing::PrintToString(grid_take_messages());
        auto map = grid_open(out);
        ASSERT_TRUE(map);
        for (int k = 0; k < 12; k++)
            check_resolution(map.get(), k, s, {0, 0, c.nlat, c.nlon, period_of(s)}, k + 1);
    }
}

// A map made from tile T of a tiled map covers that tile: its origin is the
// tile's corner, its samples that tile's, windows cut at the tile's edges.
TEST_F(GridExact, MapsFromAnyTileHoldThatTilesSamples)
{
    const double twelfth = 0.083333333333333;
    Source s = make_source(60, 96, 50, -twelfth, 7, twelfth);
    auto parent = tiled_map(s, "t", 2, 2);
    ASSERT_TRUE(parent);
    for (int tile = 0; tile < 4; tile++) {
        SCOPED_TRACE("input tile " + std::to_string(tile));
        std::string out = dir.path("t" + std::to_string(tile) + ".orx");
        ASSERT_EQ(grid_build(out, parent.get(),
                             {{0, tile, 1, 1, 1, 1}, {0, tile, 2, 0, 1, 2, true}, {0, tile, 3, 1, 2, 1, true},
                              {0, tile, 5, 1, 1, 1, true}},
                             false),
                  0);
        auto map = grid_open(out);
        ASSERT_TRUE(map);
        Area a{tile / 2 * 30, tile % 2 * 48, 30, 48, 0};
        long decs[4] = {1, 2, 3, 5};
        for (int k = 0; k < 4; k++) check_resolution(map.get(), k, s, a, decs[k]);
        // The tile lattice starts at the input tile's corner as well.
        const OrvexResolution &r = map->frame.resolutions[0];
        const OrvexResolution &p = parent->frame.resolutions[0];
        EXPECT_DOUBLE_EQ(r.lat_start_tiles, p.lat_start_tiles + tile / 2 * p.dlat_tiles);
        EXPECT_DOUBLE_EQ(r.lon_start_tiles, p.lon_start_tiles + tile % 2 * p.dlon_tiles);
    }
}

// A tile that itself reaches all the way round wraps its windows, even when
// it is one of several tile rows.
TEST_F(GridExact, WholeCircleTileOfATiledMapWraps)
{
    Source s = make_source(24, 360, 60, -1, -180, 1);
    std::string out = dir.path("w1.orx");
    auto parent = tiled_map(s, "w", 2, 1);
    ASSERT_TRUE(parent);
    ASSERT_EQ(grid_build(out, parent.get(), {{0, 1, 4, 1, 1, 1}}, false), 0);
    auto map = grid_open(out);
    ASSERT_TRUE(map);
    check_resolution(map.get(), 0, s, {12, 0, 12, 360, 360}, 4);
}

TEST(SampleIndex, TurnsAndWrappedColumns)
{
    EXPECT_EQ(orvex_turn_columns(0.083333333333333, 4320), 4320);  // printed to 15 digits
    EXPECT_EQ(orvex_turn_columns(1.0 / 12, 4319), 0);                // a region
    EXPECT_EQ(orvex_turn_columns(0.5, 721), 720);                    // seam column repeated
    EXPECT_EQ(orvex_turn_columns(-0.3, 1200), 1200);                 // columns run west
    EXPECT_EQ(orvex_turn_columns(360, 1), 1);
    EXPECT_EQ(orvex_turn_columns(0, 10), 0);
    EXPECT_EQ(orvex_turn_columns(NAN, 10), 0);
    EXPECT_EQ(orvex_turn_columns(1000, 5), 0);
    // West and east of the grid, by whole periods, the same way.
    EXPECT_EQ(orvex_turned_column(-1, 8, 8), 7);
    EXPECT_EQ(orvex_turned_column(-9, 8, 8), 7);
    EXPECT_EQ(orvex_turned_column(-8, 8, 8), 0);
    EXPECT_EQ(orvex_turned_column(8, 8, 8), 0);
    EXPECT_EQ(orvex_turned_column(17, 8, 8), 1);
    EXPECT_EQ(orvex_turned_column(3, 8, 0), 3);
    EXPECT_EQ(orvex_turned_column(-1, 8, 0), -1);
    EXPECT_EQ(orvex_turned_column(8, 8, 0), -1);
    // A repeated seam column is read where it lies, and only there.
    EXPECT_EQ(orvex_turned_column(720, 721, 720), 720);
    EXPECT_EQ(orvex_turned_column(721, 721, 720), 1);
    EXPECT_EQ(orvex_turned_column(-1, 721, 720), 719);
}

struct Nearest {
    int tile;
    long row, col, offset;
};

Nearest nearest(Orvex *map, int res, double lat, double lon)
{
    Nearest n;
    EXPECT_EQ(map->findNearestPixel(&map->frame.resolutions[res], lat, lon, &n.tile, &n.row, &n.col,
                                    &n.offset),
              0);
    return n;
}

// Sample row and column over the whole grid of resolution `res`, or -1.
std::pair<long, long> grid_index(Orvex *map, int res, const Nearest &n)
{
    const OrvexResolution &r = map->frame.resolutions[res];
    const OrvexGrid &g = *static_cast<OrvexGrid *>(r.data);
    if (n.tile < 0) return {-1, -1};
    EXPECT_EQ(n.offset, (n.row * g.nlon_per_tile + n.col) * (g.content == 1 ? 2 : 3));
    return {n.tile / r.nlon_tiles * g.nlat_per_tile + n.row, n.tile % r.nlon_tiles * g.nlon_per_tile + n.col};
}

// Every sample found at its own position, on tiled maps of steps that are
// not binary fractions, where truncation answers the sample before.
TEST_F(GridExact, NearestPixelIsExactAtEverySamplesOwnPosition)
{
    const double twelfth = 0.083333333333333;
    struct Case {
        long nlat, nlon;
        double lat, dlat, lon, dlon;
        int rows, cols;
    } cases[] = {{30, 4320, 90, -twelfth, -180, twelfth, 2, 4},
                 {40, 1200, -60, 0.3, 180, -0.3, 2, 3},
                 {36, 120, 45, -1.0 / 120, 10, 1.0 / 120, 3, 2}};
    for (const Case &c : cases) {
        Source s = make_source(c.nlat, c.nlon, c.lat, c.dlat, c.lon, c.dlon);
        std::string tag = std::to_string(serial++);
        std::string src = dir.path("n" + tag + ".dem"), out = dir.path("n" + tag + ".orx");
        write_source(s, src);
        auto raw = grid_open(src);
        ASSERT_TRUE(raw);
        ASSERT_EQ(grid_build(out, raw.get(), {{0, 0, 1, 1, c.rows, c.cols}}, false), 0);
        auto map = grid_open(out);
        ASSERT_TRUE(map);
        long wrong = 0;
        for (Orvex *m : {raw.get(), map.get()})
            for (long i = 0; i < c.nlat; i++)
                for (long j = 0; j < c.nlon; j++) {
                    double lat = c.lat + i * c.dlat, lon = c.lon + j * c.dlon;
                    auto ij = grid_index(m, 0, nearest(m, 0, lat, lon));
                    if (ij != std::make_pair(i, j) && wrong++ < 5)
                        ADD_FAILURE() << i << "," << j << " found as " << ij.first << "," << ij.second;
                }
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(GridExact, NearestPixelBetweenSamplesAndAtTheEdges)
{
    // A whole circle of 0.5 degree with both poles and the seam column.
    Source s = make_source(361, 721, 90, -0.5, -180, 0.5);
    std::string src = dir.path("e.dem");
    write_source(s, src);
    auto map = grid_open(src);
    ASSERT_TRUE(map);
    auto at = [&](double lat, double lon) { return grid_index(map.get(), 0, nearest(map.get(), 0, lat, lon)); };
    using P = std::pair<long, long>;
    EXPECT_EQ(at(10.2, 20.2), P(160, 400));      // nearer 10 (row 160) and 20 (column 400)
    EXPECT_EQ(at(10.3, 20.3), P(159, 401));      // nearer 10.5 and 20.5
    EXPECT_EQ(at(90.2, -180), P(0, 0));          // within half a step of the first row
    EXPECT_EQ(at(-90.24, 0), P(360, 360));
    EXPECT_EQ(at(90.3, 0).first, -1);            // beyond half a step: outside
    EXPECT_EQ(at(-90.3, 0).first, 360);          // the last sample's cell
    EXPECT_EQ(at(-90.5, 0).first, 360);          // the cell's far edge included
    EXPECT_EQ(at(-90.51, 0).first, -1);
    EXPECT_EQ(at(0, 180), P(180, 0));            // one turn on is the first column
    EXPECT_EQ(at(0, 179.9), P(180, 0));
    EXPECT_EQ(at(0, -180.2), P(180, 0));
    EXPECT_EQ(at(0, -180.3), P(180, 719));
    EXPECT_EQ(at(0, 540), P(180, 0));
    EXPECT_EQ(at(0, -900.5), P(180, 719));
    EXPECT_EQ(at(NAN, 0).first, -1);
    EXPECT_EQ(at(0, NAN).first, -1);
    EXPECT_EQ(at(0, INFINITY).first, -1);

    // A region across 180 degrees, columns running east, then west.
    for (double dlon : {0.5, -0.5}) {
        SCOPED_TRACE(dlon);
        Source r = make_source(10, 40, 5, -1, dlon > 0 ? 170 : -170, dlon);
        std::string rp = dir.path(dlon > 0 ? "re.dem" : "rw.dem");
        write_source(r, rp);
        auto reg = grid_open(rp);
        ASSERT_TRUE(reg);
        auto rat = [&](double lon) { return grid_index(reg.get(), 0, nearest(reg.get(), 0, 0, lon)).second; };
        EXPECT_EQ(rat(dlon > 0 ? -175 : 175), 30);
        EXPECT_EQ(rat(dlon > 0 ? 170 : -170), 0);
        EXPECT_EQ(rat(dlon > 0 ? 169.8 : -169.8), 0);
        EXPECT_EQ(rat(dlon > 0 ? 169.7 : -169.7), -1);
        EXPECT_EQ(rat(dlon > 0 ? -170.3 : 170.3), 39);
        EXPECT_EQ(rat(dlon > 0 ? -170.2 : 170.2), 39);  // the last column's cell
        EXPECT_EQ(rat(dlon > 0 ? -170.01 : 170.01), 39);
        EXPECT_EQ(rat(dlon > 0 ? -170 : 170), 39);
        EXPECT_EQ(rat(dlon > 0 ? -169.99 : 169.99), -1);
        EXPECT_EQ(rat(dlon > 0 ? 170 + 720 : -170 - 720), 0);
        EXPECT_EQ(rat(0), -1);
    }
}

TEST_F(GridExact, NearestPixelOnAVectorResolutionFindsNothing)
{
    Orvex o;
    OrvexResolution r;
    r.map_type = 1;
    Nearest n{0, 0, 0, 0};
    EXPECT_EQ(o.findNearestPixel(&r, 0, 0, &n.tile, &n.row, &n.col, &n.offset), 0);
    EXPECT_EQ(n.tile, -1);
    EXPECT_EQ(n.row, -1);
    EXPECT_EQ(n.col, -1);
    EXPECT_EQ(n.offset, -1);
}

// Sizes that are no whole number of windows and tiles are cut to the
// largest that is; the exact declaration still refuses them.
TEST_F(GridExact, FittedDeclarationsKeepTheLargestWholeGrid)
{
    Source s = make_source(2161, 25, 90, -1.0 / 12, -180, 1.0 / 12);
    std::string src = dir.path("f.dem");
    write_source(s, src);
    auto in = grid_open(src);
    ASSERT_TRUE(in);
    Orvex out;
    ASSERT_EQ(out.setOutput(dir.path("f.orx").c_str()), 0);
    EXPECT_EQ(out.setResolutionHdrGrid(in.get(), 0, 0, 2, 1, 1, 1, "x", "y"), -1);
    EXPECT_EQ(grid_take_messages(),
              std::vector<std::string>{
                  "Orvex::setResolutionHdrGrid: decimation factor must be integer multiple of source width\n"});
    ASSERT_EQ(out.setResolutionHdrGridFit(in.get(), 0, 0, 2, 1, 2, 2, "x", "y"), 0);
    const OrvexGrid &g = *static_cast<OrvexGrid *>(out.frame.resolutions[0].data);
    EXPECT_EQ(g.nlat, 1080);
    EXPECT_EQ(g.nlon, 12);
    EXPECT_EQ(g.nlat_per_tile, 540);
    EXPECT_EQ(g.nlon_per_tile, 6);
    EXPECT_DOUBLE_EQ(out.frame.resolutions[0].dlat_tiles, 540 * 2 * (-1.0 / 12));
    ASSERT_EQ(out.setResolutionHdrGridFit(in.get(), 0, 0, 5, 1, 4, 1, "x", "y"), 0);
    EXPECT_EQ(static_cast<OrvexGrid *>(out.frame.resolutions[1].data)->nlat, 432);
    EXPECT_EQ(out.setResolutionHdrGridFit(in.get(), 0, 0, 13, 1, 1, 2, "x", "y"), -1);
    EXPECT_EQ(grid_take_messages(),
              std::vector<std::string>{"Orvex::setResolutionHdrGridFit: 25 source columns give no sample to "
                                       "each of 2 tile columns at decimation 13: use fewer tile columns or a "
                                       "smaller decimation\n"});
    EXPECT_EQ(out.frame.nresolutions, 2);
}

}  // namespace
