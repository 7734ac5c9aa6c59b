// The orvex command's own logic: regions, resolution choice, colours,
// rings round a pole and build plans.
#include <gtest/gtest.h>

#include "args.h"
#include "build_plan.h"
#include "palette.h"
#include "raster.h"
#include "file_kind.h"
#include "region.h"

using namespace orvextool;

TEST(ToolRegion, ParsesAndCrossesTheDateline)
{
    Region r;
    std::string why;
    ASSERT_TRUE(parse_region("170/-170/-50/-30", &r, &why));
    EXPECT_DOUBLE_EQ(r.west, 170);
    EXPECT_DOUBLE_EQ(r.east, 190);
    EXPECT_DOUBLE_EQ(r.width(), 20);
    EXPECT_EQ(region_height_px(r, 64), 64);
    ASSERT_TRUE(parse_region("-180/180/-90/90", &r, &why));
    EXPECT_DOUBLE_EQ(r.width(), 360);
    EXPECT_EQ(region_height_px(r, 2048), 1024);
}

TEST(ToolRegion, RefusesMalformedRegions)
{
    Region r;
    std::string why;
    for (const char *bad : {"", "1/2/3", "1/2/3/4/5", "a/2/3/4", "0/10/20/10", "0/10/-95/0", "0/10/0/0",
                            "-400/0/0/10", "0//0/10", "nan/10/0/10"})
        EXPECT_FALSE(parse_region(bad, &r, &why)) << bad;
    EXPECT_FALSE(parse_region("-180/190/0/10", &r, &why)); /* more than a turn */
    /* A region of no width would silently draw the whole turn. */
    for (const char *empty : {"10/10/30/40", "180/-180/0/10", "190/-170/0/10"}) {
        EXPECT_FALSE(parse_region(empty, &r, &why)) << empty;
        EXPECT_NE(why.find("is empty"), std::string::npos) << why;
    }
    for (const char *inverted : {"0/10/40/30", "0/10/-91/0", "0/10/0/90.5", "0/10/inf/10"})
        EXPECT_FALSE(parse_region(inverted, &r, &why)) << inverted;
    ASSERT_TRUE(parse_region("0/360/0/10", &r, &why)); /* a whole turn stays legal */
    EXPECT_DOUBLE_EQ(r.width(), 360);
}

TEST(ToolArgs, StrictNumbersAndTiles)
{
    long v = 0;
    EXPECT_TRUE(parse_long("12", 1, 20, &v));
    EXPECT_EQ(v, 12);
    EXPECT_FALSE(parse_long("12abc", 1, 20, &v));
    EXPECT_FALSE(parse_long("21", 1, 20, &v));
    EXPECT_FALSE(parse_long("", 1, 20, &v));
    double d = 0;
    EXPECT_FALSE(parse_double("inf", &d));
    EXPECT_FALSE(parse_double("1e", &d));
    int rows = 0, cols = 0;
    EXPECT_TRUE(parse_tiles("3x6", &rows, &cols));
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(cols, 6);
    for (const char *bad : {"3", "x6", "3x", "0x2", "3x-1", "3x6x1"}) EXPECT_FALSE(parse_tiles(bad, &rows, &cols)) << bad;
}

TEST(ToolArgs, SplitsRecipeLines)
{
    std::vector<std::string> w;
    ASSERT_TRUE(split_words("grid a.dem --label \"5 arc-min\" --name 'x y' # comment", &w));
    ASSERT_EQ(w.size(), 6u);
    EXPECT_EQ(w[3], "5 arc-min");
    EXPECT_EQ(w[5], "x y");
    w.clear();
    EXPECT_FALSE(split_words("grid \"open", &w));
}

TEST(ToolPalette, ChoosesTheSpacingNearestByRatio)
{
    /* Pixels of 0.2 degrees: 0.25 (ratio 1.25) beats 0.0833 (2.4) and 1. */
    EXPECT_EQ(best_spacing({1.0 / 12, 0.25, 1.0}, 0.2), 1);
    EXPECT_EQ(best_spacing({1.0 / 12, 0.25, 1.0}, 0.01), 0);
    EXPECT_EQ(best_spacing({0, -1, 2.0}, 0.5), 2);
    EXPECT_EQ(best_spacing({}, 0.5), -1);
}

TEST(ToolPalette, LineFamiliesHaveTheirOwnColours)
{
    EXPECT_EQ(layer_family("borders-h"), "borders");
    EXPECT_EQ(layer_family("rivers-l"), "rivers");
    EXPECT_EQ(layer_family("a-b-c"), "a-b");
    EXPECT_EQ(layer_family("shore"), "shore");
    EXPECT_EQ(layer_family("-x"), "-x");
    EXPECT_EQ(layer_family(""), "");
    auto same = [](Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; };
    EXPECT_TRUE(same(polyline_colour("borders-l"), polyline_colour("borders")));
    EXPECT_FALSE(same(polyline_colour("borders-l"), polyline_colour("rivers-l")));
    EXPECT_FALSE(same(polyline_colour("rivers-h"), polyline_colour()));
    EXPECT_FALSE(same(polyline_colour("borders-h"), polyline_colour()));
    EXPECT_TRUE(same(polyline_colour("tracks-h"), polyline_colour()));
    EXPECT_GT(polyline_colour("rivers").b, polyline_colour("rivers").r); /* rivers are blue */
}

TEST(ToolPalette, SeaAndLandAreTold)
{
    Rgb sea = elevation_colour(-100), land = elevation_colour(100);
    EXPECT_GT(sea.b, sea.r);
    EXPECT_GT(land.g, land.b);
    EXPECT_LT(elevation_colour(-8000).b, elevation_colour(-100).b); /* deeper is darker */
    EXPECT_DOUBLE_EQ(hillshade(0, 0), 1.0);
    /* Ground rising to the east and south faces the north-west light. */
    EXPECT_GT(hillshade(0.5, -0.5), 1.0);
    EXPECT_LT(hillshade(-0.5, 0.5), 1.0);
    EXPECT_NE(level_colour(1).b, level_colour(2).b);
}

TEST(ToolRaster, RingsRoundAPoleCloseAlongIt)
{
    std::vector<PixelPoint> ring = {{-180, -70}, {0, -65}, {180, -70}};
    ASSERT_TRUE(close_ring_over_pole(&ring));
    ASSERT_EQ(ring.size(), 5u);
    EXPECT_DOUBLE_EQ(ring[3].y, -90);
    EXPECT_DOUBLE_EQ(ring[4].x, -180);
    std::vector<PixelPoint> square = {{0, 0}, {10, 0}, {10, 10}};
    EXPECT_FALSE(close_ring_over_pole(&square));
}

TEST(ToolRaster, CutsAlongTheDatelineAreNoShore)
{
    EXPECT_TRUE(meridian_cut_edge({180, 66}, {180, 71}));
    EXPECT_TRUE(meridian_cut_edge({-180, 71}, {-180, 66}));
    EXPECT_TRUE(meridian_cut_edge({540, 10}, {540, 12})); /* unwrapped a turn east */
    EXPECT_FALSE(meridian_cut_edge({180, 66}, {179.5, 71}));
    EXPECT_FALSE(meridian_cut_edge({179.99, 66}, {179.99, 71}));
    EXPECT_FALSE(meridian_cut_edge({0, 66}, {0, 71}));
}

TEST(ToolBuildPlan, OptionsApplyToTheResolutionBeforeThem)
{
    BuildPlan plan;
    std::string why;
    ASSERT_TRUE(parse_build_plan({"out.orx", "--grid", "a.dem", "--dec", "4", "--tiles", "2x3", "--no-compress",
                                  "--vector", "land.db", "--fill", "--level", "1", "--tiles", "1x2", "--vector",
                                  "lakes.db", "--add", "--level", "2", "--gamma", "0.8"},
                                 &plan, &why))
        << why;
    EXPECT_EQ(plan.output, "out.orx");
    ASSERT_EQ(plan.resolutions.size(), 3u);
    EXPECT_EQ(plan.resolutions[0].dec, 4);
    EXPECT_EQ(plan.resolutions[0].rows, 2);
    EXPECT_EQ(plan.resolutions[0].cols, 3);
    EXPECT_FALSE(plan.resolutions[0].compress);
    EXPECT_TRUE(plan.resolutions[1].fill);
    EXPECT_TRUE(is_database_source(plan.resolutions[1]));
    EXPECT_TRUE(plan.resolutions[2].add);
    EXPECT_EQ(plan.resolutions[2].cols, 2); /* the joined resolution's tiling */
    EXPECT_DOUBLE_EQ(plan.gamma, 0.8);
}

TEST(ToolBuildPlan, RefusesMisplacedOptions)
{
    std::string why;
    auto refused = [&why](std::vector<std::string> args) {
        BuildPlan plan;
        return !parse_build_plan(args, &plan, &why);
    };
    EXPECT_TRUE(refused({"--grid", "a.dem"}));                         /* no output */
    EXPECT_TRUE(refused({"out.orx"}));                                 /* nothing to build */
    EXPECT_TRUE(refused({"out.orx", "--dec", "2", "--grid", "a.dem"})); /* before a resolution */
    EXPECT_TRUE(refused({"out.orx", "--grid", "a.dem", "--level", "2"}));
    EXPECT_TRUE(refused({"out.orx", "--vector", "a.gshhs", "--dec", "2"}));
    EXPECT_TRUE(refused({"out.orx", "--grid", "a.dem", "--dec", "0"}));
    EXPECT_TRUE(refused({"out.orx", "--grid", "a.dem", "--vector", "b.gshhs", "--add"}));
    EXPECT_TRUE(refused({"out.orx", "other.orx", "--grid", "a.dem"}));
    EXPECT_TRUE(refused({"out.orx", "--grid"}));
    EXPECT_TRUE(refused({"out.orx", "--grid", "a.dem", "--type", "tiff"}));
    EXPECT_TRUE(refused({"out.orx", "--grid", "a.dem", "--lightmin", "2"}));
    for (const char *gamma : {"nan", "0", "-1"}) {
        EXPECT_TRUE(refused({"out.orx", "--grid", "a.dem", "--gamma", gamma})) << gamma;
    }
    EXPECT_EQ(why, "--gamma must be greater than 0");
    EXPECT_FALSE(refused({"out.orx", "--grid", "a.dem", "--gamma", "0.5"}));
}

namespace {

std::string kind_of(const std::string &bytes, bool has_pf = false)
{
    return orvextool::describe_non_map(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                                       static_cast<long>(bytes.size()), has_pf);
}

/* A first GSHHS header: id, points, flag, then west east south north in
 * big-endian microdegrees. */
std::string gshhs_head(int id, int points, int west, int east, int south, int north)
{
    std::string h;
    for (int v : {id, points, 0x700, west, east, south, north}) {
        unsigned u = static_cast<unsigned>(v);
        for (int shift : {24, 16, 8, 0}) h += static_cast<char>((u >> shift) & 0xff);
    }
    return h;
}

}  // namespace

TEST(ToolFileKind, TellsCommonFilesFromTheirFirstBytes)
{
    EXPECT_EQ(kind_of(""), "an empty file");
    EXPECT_EQ(kind_of(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)), "a PNG image");
    EXPECT_EQ(kind_of(std::string("SQLite format 3\0\x10\0", 18)), "an SQLite database");
    EXPECT_EQ(kind_of(std::string("\0\0\x27\x0a\0\0\0\0", 8)), "a shapefile (.shp or .shx)");
    EXPECT_EQ(kind_of("\x1f\x8b\x08\x00zzzz"), "a gzip-compressed file");
    EXPECT_EQ(kind_of("lat 90\nlon -180\n"), "a text file");
    EXPECT_EQ(kind_of(gshhs_head(0, 5, 0, 360000000, -60000000, 80000000)), "a GSHHS shoreline file");
    /* Any samples with a parameter file beside them are a raw grid. */
    EXPECT_EQ(kind_of(std::string("\0\x01\0\x02", 4), true), "a raw grid (with its parameter file beside it)");
}

TEST(ToolFileKind, LeavesMapsAndUnknownBytesToTheReader)
{
    /* A map's own magic, even when damaged further on, is the reader's. */
    EXPECT_EQ(kind_of(std::string("ORX0    \xff\xff\xff\xff", 12)), "");
    EXPECT_EQ(kind_of(std::string("ORX0    ", 8), true), "");
    EXPECT_EQ(kind_of(std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)), "");
    /* A box off the Earth or a later polygon first is no GSHHS header. */
    EXPECT_EQ(kind_of(gshhs_head(0, 5, 0, 360000000, -95000000, 80000000)), "");
    EXPECT_EQ(kind_of(gshhs_head(3, 5, 0, 360000000, -60000000, 80000000)), "");
    EXPECT_EQ(kind_of(gshhs_head(0, 0, 0, 360000000, -60000000, 80000000)), "");
    /* Text with a control byte is not text. */
    EXPECT_EQ(kind_of(std::string("lat 90\x01", 7)), "");
}
