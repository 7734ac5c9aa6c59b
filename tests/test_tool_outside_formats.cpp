// The command's handling of outside formats that needs no GDAL: elevation
// samples as the map stores them, strips, placement of the first sample,
// windows of a region, output drivers, which files the library opens
// itself, export arguments and attribute JSON.
#include <gtest/gtest.h>
#include <limits.h>
#include <math.h>

#include "build_plan.h"
#include "export_options.h"
#include "file_kind.h"
#include "json_text.h"
#include "raster_values.h"

using namespace orvextool;

TEST(ToolRasterValues, ElevationsAreScaledRoundedAwayFromZeroAndClamped)
{
    ElevationScale s;
    s.scale = 0.5;
    s.offset = -1;
    SampleCounts c;
    EXPECT_EQ(elevation_sample(3, s, &c), 1);     /* 0.5 rounds up */
    EXPECT_EQ(elevation_sample(1, s, &c), -1);    /* -0.5 rounds down */
    EXPECT_EQ(elevation_sample(2.9, s, &c), 0);   /* 0.45 */
    EXPECT_EQ(elevation_sample(65536, s, &c), 32767);
    EXPECT_EQ(elevation_sample(65537, s, &c), 32767); /* 32767.5 is beyond */
    EXPECT_EQ(elevation_sample(-65534, s, &c), -32768);
    EXPECT_EQ(elevation_sample(-65536, s, &c), -32768);
    EXPECT_EQ(elevation_sample(INFINITY, s, &c), 32767);
    EXPECT_EQ(elevation_sample(-INFINITY, s, &c), -32768);
    EXPECT_EQ(c.clamped, 4);
    EXPECT_EQ(c.nodata, 0);
}

TEST(ToolRasterValues, NoDataAndNaNBecomeMinus9999)
{
    ElevationScale s;
    s.has_nodata = true;
    s.nodata = -32768;
    SampleCounts c;
    EXPECT_EQ(elevation_sample(-32768, s, &c), -9999);
    EXPECT_EQ(elevation_sample(NAN, s, &c), -9999);
    EXPECT_EQ(elevation_sample(-32767, s, &c), -32767);
    EXPECT_EQ(c.nodata, 2);
    EXPECT_EQ(c.clamped, 0);
    s.scale = 0; /* infinity times zero */
    EXPECT_EQ(elevation_sample(INFINITY, s, &c), -32768);
    EXPECT_EQ(c.clamped, 1);
}

TEST(ToolRasterValues, StripsAreWholeBlocksWithinTheBudget)
{
    EXPECT_EQ(strip_rows(16, 100, 1000), 10); /* not even one block fits: as many rows as do */
    EXPECT_EQ(strip_rows(16, 10, 1000), 96);
    EXPECT_EQ(strip_rows(1, 10, 1000), 100);
    EXPECT_EQ(strip_rows(256, 1L << 30, 1L << 25), 1); /* one row beyond the budget is still read */
    EXPECT_EQ(strip_rows(0, 10, 1000), 100);
}

// However wide the raster (GDAL's sizes go to INT_MAX), a row of the
// columns read at once stays within the budget, in whole blocks when one
// fits.
TEST(ToolRasterValues, PiecesOfAWideRowAreWholeBlocksWithinTheBudget)
{
    const long budget = 32L << 20;
    EXPECT_EQ(piece_cols(5400, 256, 8, 0, budget), 5400); /* a row fits: all of it */
    EXPECT_EQ(piece_cols(4096, 64, 8, 1024, budget), 1024); /* sixteen blocks of a sparse raster */
    EXPECT_EQ(piece_cols(INT_MAX, 256, 8, 0, budget), 4194304); /* wider than INT_MAX / 3: 32 MB of doubles */
    EXPECT_EQ(piece_cols(INT_MAX, 1000, 3, 0, budget), 11184000); /* colour, whole blocks of 1000 */
    EXPECT_EQ(piece_cols(INT_MAX, INT_MAX, 3, 0, budget), 11184810); /* a block a row: as many columns as fit */
    EXPECT_EQ(piece_cols(10, 0, 100, 0, 50), 1); /* not one column fits: one is read */
}

TEST(ToolRasterValues, FirstSampleLiesAtTheCentreOfTheFirstCell)
{
    const double t[6] = {-180, 0.25, 0, 90, 0, -0.5};
    GridPlacement p = first_sample(t);
    EXPECT_DOUBLE_EQ(p.lon, -179.875);
    EXPECT_DOUBLE_EQ(p.lat, 89.75);
    EXPECT_DOUBLE_EQ(p.dlon, 0.25);
    EXPECT_DOUBLE_EQ(p.dlat, -0.5);
    double back[6];
    cell_transform(p, back);
    for (int i = 0; i < 6; i++) EXPECT_DOUBLE_EQ(back[i], t[i]) << i;
    const double south_up[6] = {10, 1, 0, -60, 0, 2};
    EXPECT_DOUBLE_EQ(first_sample(south_up).lat, -59);
}

TEST(ToolRasterValues, BareTransformsAreDegreesWhenTheirSamplesLieOnTheEarth)
{
    const double etopo60[6] = {20, 1, 0, 90, 0, -1};        /* 360 x 180 cells, 20 to 380 degrees */
    EXPECT_TRUE(centres_on_earth(etopo60, 360, 180));
    const double poles[6] = {-180.5, 1, 0, 90.5, 0, -1};    /* rows at both poles, a repeated seam */
    EXPECT_TRUE(centres_on_earth(poles, 362, 181));
    EXPECT_FALSE(centres_on_earth(poles, 362, 182));        /* a row beyond the south pole */
    EXPECT_FALSE(centres_on_earth(etopo60, 363, 180));      /* more than a turn and a cell */
    const double utm[6] = {400000, 1000, 0, 5200000, 0, -1000};
    EXPECT_FALSE(centres_on_earth(utm, 50, 40));
}

TEST(ToolRasterValues, RegionWindowsHoldTheSamplesWithinBothEdges)
{
    long first = -1, count = -1;
    samples_within(50, -0.5, 20, 45, 48, &first, &count); /* 48, 47.5 ... 45 */
    EXPECT_EQ(first, 4);
    EXPECT_EQ(count, 7);
    samples_within(-20, 0.25, 40, -18.1, -15, &first, &count);
    EXPECT_EQ(first, 8);
    EXPECT_EQ(count, 13);
    samples_within(0, 1, 10, 20, 30, &first, &count);
    EXPECT_EQ(count, 0);
    samples_within(0, 1, 10, -5, 100, &first, &count);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(count, 10);
    samples_within(0, 0.1, 31, 0.3, 0.3, &first, &count); /* 3 * 0.1 is not 0.3 in doubles */
    EXPECT_EQ(first, 3);
    EXPECT_EQ(count, 1);
}

TEST(ToolRasterValues, OutputFormatsFollowTheSuffix)
{
    EXPECT_EQ(driver_for_suffix("a/relief.TIF", false), "COG");
    EXPECT_EQ(driver_for_suffix("relief.nc", false), "netCDF");
    EXPECT_EQ(driver_for_suffix("shore.gpkg", true), "GPKG");
    EXPECT_EQ(driver_for_suffix("shore.geojson", true), "GeoJSON");
    EXPECT_EQ(driver_for_suffix("shore.geojson", false), "");
    EXPECT_EQ(driver_for_suffix("relief.tif", true), "");
    EXPECT_EQ(driver_for_suffix("dir.tif/relief", false), "");
}

TEST(ToolFileKind, TheLibraryOpensItsOwnFormatsAndLeavesTheRestToGdal)
{
    const unsigned char map[] = "ORX0    ";
    const unsigned char tiff[] = "II*\0";
    const unsigned char db[] = "SQLite format 3";
    EXPECT_TRUE(opened_by_library("x.dem", tiff, 4, false));
    EXPECT_TRUE(opened_by_library("x.db", tiff, 4, false));
    EXPECT_TRUE(opened_by_library("relief", map, 8, false));
    EXPECT_TRUE(opened_by_library("shapes.sqlite", db, 16, false));
    EXPECT_TRUE(opened_by_library("grid.bin", tiff, 4, true));
    EXPECT_FALSE(opened_by_library("relief.tif", tiff, 4, false));
    EXPECT_FALSE(opened_by_library("relief.nc", map, 3, false));
}

TEST(ToolExportOptions, ParsesOptionsAnywhere)
{
    ExportOptions o;
    std::string why;
    ASSERT_TRUE(parse_export_options({"--region", "-10/10/-5/5", "world.orx", "--res", "2", "out.tif", "--overwrite"},
                                     &o, &why))
        << why;
    EXPECT_EQ(o.map, "world.orx");
    EXPECT_EQ(o.output, "out.tif");
    EXPECT_EQ(o.resolution, 2);
    EXPECT_TRUE(o.has_region);
    EXPECT_DOUBLE_EQ(o.region.west, -10);
    EXPECT_TRUE(o.overwrite);
}

TEST(ToolExportOptions, RefusesMistakes)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"a.orx", "b.tif"}, "--res K names the resolution to export"},
        {{"a.orx", "--res", "x", "b.tif"}, "--res: 'x' is not a resolution number"},
        {{"a.orx", "--res", "0"}, "expected MAP and OUT"},
        {{"a.orx", "--res", "0", "b", "c"}, "expected MAP and OUT"},
        {{"a.orx", "b.tif", "--res"}, "--res needs a value"},
        {{"a.orx", "b.tif", "--res", "0", "--frob"}, "unknown option --frob"},
    };
    for (const auto &c : cases) {
        ExportOptions o;
        std::string why;
        EXPECT_FALSE(parse_export_options(c.first, &o, &why));
        EXPECT_EQ(why, c.second);
    }
}

TEST(ToolBuildPlan, TakesSpacingAndTheGdalType)
{
    BuildPlan plan;
    std::string why;
    ASSERT_TRUE(parse_build_plan({"out.orx", "--grid", "utm.tif", "--type", "gdal", "--spacing", "0.25"}, &plan, &why))
        << why;
    EXPECT_EQ(plan.resolutions[0].type, "gdal");
    EXPECT_DOUBLE_EQ(plan.resolutions[0].spacing, 0.25);
    BuildPlan vector, negative;
    EXPECT_FALSE(parse_build_plan({"out.orx", "--vector", "a.db", "--spacing", "1"}, &vector, &why));
    EXPECT_EQ(why, "--spacing applies to grid resolutions only");
    EXPECT_FALSE(parse_build_plan({"out.orx", "--grid", "a.tif", "--spacing", "-1"}, &negative, &why));
    EXPECT_EQ(why, "--spacing must lie above 0 and at most 90 degrees");
    BuildPlan gdal_vector;
    EXPECT_FALSE(parse_build_plan({"out.orx", "--vector", "a.gpkg", "--type", "gdal"}, &gdal_vector, &why));
    EXPECT_EQ(why, "--type gdal applies to grid resolutions only (vector data goes in through 'orvex shp2db')");
}

TEST(ToolJson, EscapesStringsAndRefusesNonFiniteNumbers)
{
    std::string out;
    append_json_string(&out, std::string("a\"b\\c\n\x01\xc3\xa9", 9));
    EXPECT_EQ(out, "\"a\\\"b\\\\c\\u000a\\u0001\xc3\xa9\"");
    out.clear();
    append_json_number(&out, 0.1);
    out += ",";
    append_json_number(&out, NAN);
    out += ",";
    append_json_number(&out, -INFINITY);
    EXPECT_EQ(out, "0.10000000000000001,null,null");
}
