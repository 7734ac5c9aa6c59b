// Building grid map files: the file layout of a declaration, tile payloads
// and index entries, the decimation and colour rules, round trips through
// the reader, and byte-for-byte agreement with the literal tile writer.

#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "grid_fixtures.h"
#include "gshhs_files.h"
#include "grid_terrain.h"

namespace {

class GridBuild : public GridTest {};

std::vector<uint8_t> inflate_all(const uint8_t *p, size_t n, size_t expected)
{
    std::vector<uint8_t> out(expected + 16);
    uLongf len = out.size();
    EXPECT_EQ(uncompress(out.data(), &len, p, n), Z_OK);
    out.resize(len);
    return out;
}

int16_t elevation_at(const uint8_t *p)
{
    int16_t v;
    memcpy(&v, p, 2);
    return v;
}

// The elevation range of a tile's samples, -9999 when none holds data.
void range_of(const std::vector<uint8_t> &samples, long *zmin, long *zmax)
{
    *zmin = *zmax = -9999;
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
        int v = elevation_at(&samples[i]);
        if (v == -9999) continue;
        if (*zmin == -9999 || v < *zmin) *zmin = v;
        if (*zmax == -9999 || v > *zmax) *zmax = v;
    }
}

TEST_F(GridBuild, WorldExampleLayoutIndexAndPayloads)
{
    const long nlat = 1800, nlon = 3600;
    std::string src = dir.path("world.dem");
    grid_write_dem(src, grid_terrain(nlat, nlon, 1), nlat, nlon, -90, 0.1, -180, 0.1, false);
    auto in = grid_open(src);
    ASSERT_TRUE(in);
    std::string dst = dir.path("world.orx");
    Orvex out;
    ASSERT_EQ(out.setOutput(dst.c_str()), 0);
    ASSERT_EQ(out.setResolutionHdrGrid(in.get(), 0, 0, 4, 1, 5, 9, "world", "0.4 degrees"), 0);

    const OrvexResolution &r = out.frame.resolutions[0];
    const OrvexGrid &g = *static_cast<OrvexGrid *>(r.data);
    EXPECT_EQ(g.nlon, 900);
    EXPECT_EQ(g.nlat, 450);
    EXPECT_EQ(g.nlon_per_tile, 100);
    EXPECT_EQ(g.nlat_per_tile, 90);
    EXPECT_EQ(r.ntiles, 45);
    EXPECT_EQ(g.dlon, 4 * 0.1);
    EXPECT_EQ(g.dlat, 4 * 0.1);
    EXPECT_EQ(r.dlon_tiles, g.dlon * 900 / 9);
    EXPECT_EQ(r.dlat_tiles, g.dlat * 450 / 5);
    EXPECT_EQ(r.degrees_per_pixel, 4 * 0.1);
    EXPECT_EQ(g.lon_start, -180);
    EXPECT_EQ(g.lat_start, -90);
    EXPECT_EQ(g.decimation_factor, 4);
    EXPECT_EQ(g.compressed, 1);
    EXPECT_STREQ(r.name, "world");
    EXPECT_STREQ(r.resolution, "0.4 degrees");
    EXPECT_STREQ(r.source.fname, in->fname);
    EXPECT_EQ(r.source.data_type, 2);
    EXPECT_EQ(r.data_type, 0);

    std::vector<uint8_t> f = grid_read_file(dst);
    ASSERT_EQ(f.size(), 16u + 848 + 104 + 45 * 32);
    EXPECT_EQ(memcmp(f.data(), "ORX0    ", 8), 0);
    EXPECT_EQ(grid_long_at(f, 8), 1);
    EXPECT_EQ(memcmp(&f[16], &r, 848), 0);
    OrvexGrid image = g;
    image.tiles = nullptr;
    EXPECT_EQ(memcmp(&f[864], &image, 104), 0);
    EXPECT_TRUE(std::all_of(f.begin() + 968, f.end(), [](uint8_t b) { return b == 0; }));
    for (long k = 0; k < 45; k++) {
        long e = 968 + 32 * k;
        EXPECT_EQ(g.tiles[k].zmin, e);
        EXPECT_EQ(g.tiles[k].zmax, e + 8);
        EXPECT_EQ(static_cast<long>(g.tiles[k].nbuf), e + 16);
        EXPECT_EQ(reinterpret_cast<long>(g.tiles[k].buf), e + 24);
    }

    // A second declaration follows at once, uncompressed this time.
    ASSERT_EQ(out.setResolutionHdrGrid(in.get(), 0, 0, 8, 0, 1, 1, nullptr, nullptr), 0);
    f = grid_read_file(dst);
    EXPECT_EQ(grid_long_at(f, 8), 2);
    ASSERT_EQ(f.size(), 2408u + 848 + 104 + 32);
    EXPECT_EQ(grid_long_at(f, 2408 + 512), 2);  // the source's data type
    EXPECT_TRUE(std::all_of(f.begin() + 2408 + 592, f.begin() + 2408 + 784,
                            [](uint8_t b) { return b == 0; }));  // null name and text

    ASSERT_EQ(out.writeDataGrid(1, 0), 0);
    f = grid_read_file(dst);
    long next = 2408 + 848 + 104 + 32;  // the first payload follows the last header block
    for (long k = 0; k < 45; k++) {
        long e = 968 + 32 * k;
        long buf = grid_long_at(f, static_cast<size_t>(e + 24));
        long nbuf = grid_long_at(f, static_cast<size_t>(e + 16));
        ASSERT_EQ(buf, next) << k;
        std::vector<uint8_t> samples = inflate_all(&f[static_cast<size_t>(buf)], static_cast<size_t>(nbuf), 18000);
        ASSERT_EQ(samples.size(), 18000u);
        long zmin, zmax;
        range_of(samples, &zmin, &zmax);
        EXPECT_EQ(grid_long_at(f, static_cast<size_t>(e)), zmin);
        EXPECT_EQ(grid_long_at(f, static_cast<size_t>(e + 8)), zmax);
        next = buf + nbuf;
    }
    long e = 2408 + 848 + 104;
    EXPECT_EQ(grid_long_at(f, static_cast<size_t>(e + 24)), next);
    EXPECT_EQ(grid_long_at(f, static_cast<size_t>(e + 16)), 450 / 2 * 900 / 2 * 2);
    EXPECT_EQ(static_cast<long>(f.size()), next + 450 / 2 * 900 / 2 * 2);
}

// The decimation rule applied directly to a source that spans the whole
// circle: a window past the west edge reads the east edge, the column just
// past the east edge is skipped, columns beyond it read the west edge.
int expected_elevation(const std::vector<int16_t> &z, long nlat, long nlon, long dec, long r, long c)
{
    long dec0 = dec % 2 ? dec / 2 : (dec + 1) / 2;
    long dec1 = dec % 2 ? dec / 2 + 1 : dec0 + 1;
    int best = -9999;
    for (long y = r * dec - dec0; y < r * dec + dec1; y++) {
        if (y < 0 || y >= nlat) continue;
        for (long x = c * dec - dec0; x < c * dec + dec1; x++) {
            if (x == nlon) continue;
            long xx = x < 0 ? x + nlon : x > nlon ? x - nlon : x;
            int v = z[static_cast<size_t>(y * nlon + xx)];
            if (v != -9999 && (best == -9999 || v > best)) best = v;
        }
    }
    return best;
}

TEST_F(GridBuild, RoundTripEverySampleFollowsTheDecimationRule)
{
    const long nlat = 72, nlon = 144;  // 2.5 degrees, rows running south
    std::vector<int16_t> z = grid_terrain(nlat, nlon, 7);
    std::string src = dir.path("w.dem");
    grid_write_dem(src, z, nlat, nlon, 90, -2.5, -180, 2.5, false);
    auto in = grid_open(src);
    ASSERT_TRUE(in);
    std::vector<GridDecl> decls = {
        {0, 0, 1, 1, 2, 3}, {0, 0, 2, 0, 3, 4}, {0, 0, 3, 1, 1, 2}, {0, 0, 4, 1, 2, 2}};
    std::string dst = dir.path("w.orx");
    ASSERT_EQ(grid_build(dst, in.get(), decls, false), 0);
    in.reset();
    auto map = grid_open(dst);
    ASSERT_TRUE(map);
    ASSERT_EQ(map->frame.nresolutions, 4);
    for (int res = 0; res < 4; res++) {
        const OrvexResolution &r = map->frame.resolutions[res];
        OrvexGrid *g = static_cast<OrvexGrid *>(r.data);
        long dec = decls[static_cast<size_t>(res)].dec;
        EXPECT_EQ(g->compressed, decls[static_cast<size_t>(res)].compressed);
        for (long row = 0; row < g->nlat; row++) {
            for (long col = 0; col < g->nlon; col++) {
                double lat = g->lat_start + (row + 0.5) * g->dlat;
                double lon = g->lon_start + (col + 0.5) * g->dlon;
                int tile;
                long tr, tc, pr, pc, off;
                map->findTile(res, lat, lon, &tile, &tr, &tc);
                ASSERT_GE(tile, 0);
                map->findPixelWithinTile(&map->frame.resolutions[res], g, tr, tc, lat, lon, &pr, &pc, &off);
                ASSERT_GE(off, 0);
                unsigned char *buf;
                ASSERT_EQ(map->getTileGrid(res, tile, &buf), 0);
                ASSERT_EQ(elevation_at(buf + off), expected_elevation(z, nlat, nlon, dec, row, col))
                    << "resolution " << res << " row " << row << " col " << col;
            }
        }
    }
}

// The source data type is the one byte string that tells the two apart.
void mask_source_types(std::vector<uint8_t> &f)
{
    long pos = 16, count = grid_long_at(f, 8);
    for (long i = 0; i < count; i++) {
        memset(&f[static_cast<size_t>(pos + 512)], 0, 8);
        pos += 848 + 104 + 32 * grid_long_at(f, static_cast<size_t>(pos + 840));
    }
}

TEST_F(GridBuild, BigAndLittleEndianSourcesGiveTheSameFile)
{
    const long nlat = 40, nlon = 60;
    std::vector<int16_t> z = grid_terrain(nlat, nlon, 3);
    std::vector<GridDecl> decls = {{0, 0, 1, 1, 2, 3}, {0, 0, 2, 0, 1, 2}, {0, 0, 4, 1, 1, 1}};
    std::vector<uint8_t> files[2];
    for (int be = 0; be < 2; be++) {
        std::string src = dir.path("e.dem");  // one name, so the records agree
        grid_write_dem(src, z, nlat, nlon, 10, 0.5, 20, 0.5, be == 1);
        auto in = grid_open(src);
        ASSERT_TRUE(in);
        EXPECT_EQ(in->frame.resolutions[0].data_type, be ? 3 : 2);
        std::string dst = dir.path(be ? "be.orx" : "le.orx");
        ASSERT_EQ(grid_build(dst, in.get(), decls, false), 0);
        files[be] = grid_read_file(dst);
        EXPECT_EQ(files[be][16 + 512], be ? 3 : 2);
        mask_source_types(files[be]);
    }
    EXPECT_EQ(files[0], files[1]);
}

TEST_F(GridBuild, AMapBuiltFromAMapKeepsTheOriginalSource)
{
    std::string src = dir.path("s.dem");
    grid_write_dem(src, grid_terrain(32, 64, 5), 32, 64, -40, 2.5, 0, 2.5, false);
    auto raw = grid_open(src);
    ASSERT_TRUE(raw);
    std::string first = dir.path("first.orx"), second = dir.path("second.orx");
    ASSERT_EQ(grid_build(first, raw.get(), {{0, 0, 2, 1, 2, 2}}, false), 0);
    auto mid = grid_open(first);
    ASSERT_TRUE(mid);
    // The whole decimated grid from its tile 0: one tile of the map's lattice.
    ASSERT_EQ(grid_build(second, mid.get(), {{0, 0, 2, 1, 1, 1}}, false), 0);
    auto last = grid_open(second);
    ASSERT_TRUE(last);
    const OrvexSource &a = raw->frame.resolutions[0].source, &b = last->frame.resolutions[0].source;
    EXPECT_EQ(memcmp(&a, &b, sizeof a), 0);
    EXPECT_STREQ(b.fname, src.c_str());
    EXPECT_EQ(b.data_type, 2);
    EXPECT_EQ(b.dlat, 2.5);
    EXPECT_EQ(last->frame.resolutions[0].degrees_per_pixel, 10.0);
    EXPECT_EQ(static_cast<OrvexGrid *>(last->frame.resolutions[0].data)->decimation_factor, 2);
}

TEST_F(GridBuild, ChosenInputTileSetsTheNewOrigin)
{
    std::string src = dir.path("t.dem");
    grid_write_dem(src, grid_terrain(8, 16, 2), 8, 16, -10, 1.25, 30, 0.5, false);
    auto raw = grid_open(src);
    ASSERT_TRUE(raw);
    std::string map_path = dir.path("t.orx");
    ASSERT_EQ(grid_build(map_path, raw.get(), {{0, 0, 1, 1, 2, 4}}, false), 0);
    auto map = grid_open(map_path);
    ASSERT_TRUE(map);
    Orvex out;
    ASSERT_EQ(out.setOutput(dir.path("u.orx").c_str()), 0);
    ASSERT_EQ(out.setResolutionHdrGrid(map.get(), 0, 5, 1, 1, 1, 1, "n", "r"), 0);
    const OrvexResolution &r = out.frame.resolutions[0];
    EXPECT_EQ(r.lat_start_tiles, -10 + 1 * (4 * 1.25));
    EXPECT_EQ(r.lon_start_tiles, 30 + 1 * (4 * 0.5));
    EXPECT_EQ(static_cast<OrvexGrid *>(r.data)->lat_start, r.lat_start_tiles);
}

// Output colours of a colour grid of 2 x 4 pixels (the 2 x 2 given, twice
// side by side) built with the given factors.
std::vector<uint8_t> build_colours(GridTempDir &dir, const std::vector<uint8_t> &pixels, long dec,
                                   double gamma, double lightmin)
{
    static int serial = 0;
    std::string tag = std::to_string(serial++);
    std::string src = dir.path("c" + tag + ".rgb"), dst = dir.path("c" + tag + ".orx");
    std::vector<uint8_t> wide;
    for (int r = 0; r < 2; r++)
        for (int half = 0; half < 2; half++)
            wide.insert(wide.end(), pixels.begin() + r * 6, pixels.begin() + r * 6 + 6);
    grid_write_rgb(src, wide, 2, 4, 0, 1, 0, 1);
    auto in = grid_open(src);
    if (!in || grid_build(dst, in.get(), {{0, 0, dec, 0, 1, 1}}, false, gamma, lightmin) < 0) return {};
    auto map = grid_open(dst);
    unsigned char *buf;
    if (!map || map->getTileGrid(0, 0, &buf) < 0) return {};
    const OrvexGrid &g = *static_cast<OrvexGrid *>(map->frame.resolutions[0].data);
    EXPECT_EQ(map->frame.resolutions[0].data_type, 0);
    EXPECT_EQ(static_cast<OrvexGrid *>(map->frame.resolutions[0].data)->tiles[0].zmin, -9999);
    return std::vector<uint8_t>(buf, buf + g.nlat_per_tile * g.nlon_per_tile * 3);
}

TEST_F(GridBuild, ColourAveragingAndAdjustment)
{
    const std::vector<uint8_t> grey = {100, 150, 200, 100, 150, 200, 100, 150, 200, 100, 150, 200};
    auto first = [](const std::vector<uint8_t> &v) {
        return v.size() >= 3 ? std::vector<int>{v[0], v[1], v[2]} : std::vector<int>{};
    };
    EXPECT_EQ(first(build_colours(dir, grey, 1, 1, 0)), (std::vector<int>{100, 150, 200}));
    EXPECT_EQ(first(build_colours(dir, grey, 1, 1, 0.25)), (std::vector<int>{126, 176, 226}));
    EXPECT_EQ(first(build_colours(dir, grey, 1, 0.5, 0)), (std::vector<int>{145, 195, 245}));
    EXPECT_EQ(first(build_colours(dir, grey, 1, 0, 0.25)), (std::vector<int>{126, 176, 226}));
    EXPECT_EQ(first(build_colours(dir, grey, 1, -2, 0.25)), (std::vector<int>{126, 176, 226}));
    // Channels keep their offsets (-127, 1, 128) from the middle value 127,
    // around the new middle 242 (from 242.25), clamped to 0 .. 255.
    const std::vector<uint8_t> wide = {0, 128, 255, 0, 128, 255, 0, 128, 255, 0, 128, 255};
    EXPECT_EQ(first(build_colours(dir, wide, 1, 1, 0.9)), (std::vector<int>{115, 243, 255}));
    // Averages truncate: (10, 20, 30) and (11, 21, 31) give (10, 20, 30).
    const std::vector<uint8_t> pair = {10, 20, 30, 11, 21, 31, 10, 20, 30, 11, 21, 31};
    EXPECT_EQ(first(build_colours(dir, pair, 2, 1, 0)), (std::vector<int>{10, 20, 30}));
    // A NaN factor still adjusts, and gives a defined colour.
    EXPECT_EQ(build_colours(dir, grey, 1, NAN, 0).size(), 24u);
}

// A source map of two tiles side by side; an output that takes the whole
// grid from one tile finds no source sample for the other tile's half.
TEST_F(GridBuild, UncompressedTilesHoldExactlyTheirSamples)
{
    std::vector<int16_t> z(6 * 8, -9999);
    std::string src = dir.path("n.dem"), dst = dir.path("n.orx");
    grid_write_dem(src, z, 6, 8, 0, 1, 0, 1, false);
    auto in = grid_open(src);
    ASSERT_TRUE(in);
    ASSERT_EQ(grid_build(dst, in.get(), {{0, 0, 1, 0, 2, 2}}, false), 0);
    std::vector<uint8_t> f = grid_read_file(dst);
    for (long k = 0; k < 4; k++) {
        long e = 968 + 32 * k;
        EXPECT_EQ(grid_long_at(f, static_cast<size_t>(e)), -9999);  // no valid sample
        EXPECT_EQ(grid_long_at(f, static_cast<size_t>(e + 8)), -9999);
        EXPECT_EQ(grid_long_at(f, static_cast<size_t>(e + 16)), 3 * 4 * 2);
    }
}

// An output of a grid and a vector resolution is written tile by tile with
// the two tile writers; the grid walker refuses the vector resolution.
TEST_F(GridBuild, GridAndVectorResolutionsInOneOutput)
{
    std::string dem = dir.path("m.dem"), coast = dir.path("m.gshhs");
    grid_write_dem(dem, grid_terrain(20, 40, 8), 20, 40, -10, 0.5, 0, 0.5, false);
    std::string g = gshhs_file_bytes({gshhs_polygon(0, 1, {{1, 1}, {2, 1}, {2, 2}})}, GshhsLayout::New44);
    grid_write_bytes(coast, g.data(), g.size());
    auto grid_in = grid_open(dem), vector_in = grid_open(coast);
    ASSERT_TRUE(grid_in);
    ASSERT_TRUE(vector_in);
    std::string mixed = dir.path("mixed.orx"), plain = dir.path("plain.orx");
    {
        Orvex out;
        ASSERT_EQ(out.setOutput(mixed.c_str()), 0);
        ASSERT_EQ(out.setResolutionHdrGrid(grid_in.get(), 0, 0, 2, 1, 1, 2, "test", "decimated"), 0);
        testing::internal::CaptureStdout();
        ASSERT_EQ(out.setResolutionHdrVector(vector_in.get(), 0, 0, 1, 1, -1, 0, 0, "c", "full"), 0);
        EXPECT_EQ(out.writeDataGrid(1, 0), -1);  // stops at the vector resolution
        grid_take_messages();
        ASSERT_EQ(out.writeTileDataVector(1, 0), 0);
        testing::internal::GetCapturedStdout();
    }
    ASSERT_EQ(grid_build(plain, grid_in.get(), {{0, 0, 2, 1, 1, 2}}, false), 0);
    auto a = grid_open(mixed), b = grid_open(plain);
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    ASSERT_EQ(a->frame.nresolutions, 2);
    EXPECT_EQ(a->frame.resolutions[1].map_type, ORVEX_MAP_VECTOR);
    for (int t = 0; t < 2; t++) {
        unsigned char *x, *y;
        ASSERT_EQ(a->getTileGrid(0, t, &x), 0);
        ASSERT_EQ(b->getTileGrid(0, t, &y), 0);
        EXPECT_EQ(memcmp(x, y, 10 * 10 * 2), 0);
    }
    const OrvexVector &v = *static_cast<OrvexVector *>(a->frame.resolutions[1].data);
    ASSERT_EQ(v.tiles[0].nsegments, 1);
    EXPECT_EQ(v.tiles[0].segments[0].npts, 3);
}

struct ReferenceCase {
    const char *what;
    bool colour, bigendian, from_map;
    long nlat, nlon;
    double lat, dlat, lon, dlon;
    std::vector<GridDecl> decls;
    double gamma, lightmin;
};

// The library's writer and the literal one must produce the same bytes.
TEST_F(GridBuild, FilesEqualThoseOfTheLiteralWriter)
{
    const double third = 1.0 / 120;
    std::vector<ReferenceCase> cases = {
        {"world, rows south", false, false, false, 72, 144, 90, -2.5, -180, 2.5,
         {{0, 0, 1, 1, 2, 3}, {0, 0, 2, 1, 3, 4}, {0, 0, 3, 0, 2, 2}, {0, 0, 4, 1, 1, 3}, {0, 0, 8, 1, 1, 1}}, 1, 0},
        {"world, big-endian", false, true, false, 72, 144, 90, -2.5, -180, 2.5,
         {{0, 0, 2, 1, 2, 2}, {0, 0, 3, 1, 3, 1}}, 1, 0},
        {"world, columns west", false, false, false, 36, 72, -90, 5, 180, -5,
         {{0, 0, 2, 1, 2, 3}, {0, 0, 3, 1, 1, 2}}, 1, 0},
        {"region at 1/120 degree", false, false, false, 240, 360, 45, third, 10, third,
         {{0, 0, 2, 1, 2, 2}, {0, 0, 4, 1, 3, 1}, {0, 0, 5, 0, 2, 4}}, 1, 0},
        {"source of 3 x 4 tiles", false, false, true, 48, 96, 0, 1, 0, 1,
         {{0, 5, 2, 1, 2, 3}, {0, 5, 4, 1, 1, 2}, {0, 0, 4, 1, 2, 2}, {0, 11, 1, 1, 1, 1},
          {0, 6, 3, 1, 1, 2, true}}, 1, 0},
        {"colour, plain", true, false, false, 36, 72, 90, -5, -180, 5,
         {{0, 0, 1, 1, 2, 2}, {0, 0, 2, 1, 3, 4}, {0, 0, 3, 0, 1, 1}}, 1, 0},
        {"colour, adjusted", true, false, false, 36, 72, 90, -5, -180, 5,
         {{0, 0, 2, 1, 3, 4}, {0, 0, 3, 1, 2, 3}}, 0.7, 0.2},
        {"colour, source of tiles", true, false, true, 24, 48, 0, 1, 0, 1,
         {{0, 3, 2, 1, 1, 2}, {0, 3, 1, 1, 2, 2}}, 1.3, 0.1},
    };
    int serial = 0;
    for (const ReferenceCase &c : cases) {
        SCOPED_TRACE(c.what);
        std::string tag = std::to_string(serial++);
        std::string src = dir.path("r" + tag + (c.colour ? ".rgb" : ".dem"));
        if (c.colour)
            grid_write_rgb(src, grid_colours(c.nlat, c.nlon, 9), c.nlat, c.nlon, c.lat, c.dlat, c.lon, c.dlon);
        else
            grid_write_dem(src, grid_terrain(c.nlat, c.nlon, 9), c.nlat, c.nlon, c.lat, c.dlat, c.lon,
                           c.dlon, c.bigendian);
        auto in = grid_open(src);
        ASSERT_TRUE(in);
        if (c.from_map) {
            // A compressed map of 3 x 4 tiles stands in as the source.
            std::string tiled = dir.path("r" + tag + "t.orx");
            ASSERT_EQ(grid_build(tiled, in.get(), {{0, 0, 1, 1, 3, 4}}, false), 0);
            in = grid_open(tiled);
            ASSERT_TRUE(in);
        }
        std::string ref = dir.path("r" + tag + "r.orx");
        ASSERT_EQ(grid_build(ref, in.get(), c.decls, true, c.gamma, c.lightmin), 0);
        std::vector<uint8_t> b = grid_read_file(ref);
        ASSERT_GT(b.size(), 1000u);
        // One thread, and several: fewer and more than some resolutions
        // have tiles, and a ring of slots that wraps.
        for (const char *threads : {"1", "2", "5"}) {
            SCOPED_TRACE(std::string(threads) + " threads");
            GridThreads use(threads);
            std::string lib = dir.path("r" + tag + "l" + threads + ".orx");
            ASSERT_EQ(grid_build(lib, in.get(), c.decls, false, c.gamma, c.lightmin), 0)
                << testing::PrintToString(grid_take_messages());
            std::vector<uint8_t> a = grid_read_file(lib);
            EXPECT_TRUE(a == b) << "sizes " << a.size() << " and " << b.size();
        }
    }
}

}  // namespace
