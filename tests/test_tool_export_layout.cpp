// Where an exported grid lands: the rows and columns written, their order
// round a whole circle, the raster's transform, the world file's name and
// the option that keeps the stored order.
#include <gtest/gtest.h>

#include "export_layout.h"
#include "export_options.h"

using namespace orvextool;

namespace {

GridGeometry grid(double lon0, double dlon, long nlon, double lat0, double dlat, long nlat)
{
    GridGeometry g;
    g.lon_start = lon0;
    g.dlon = dlon;
    g.nlon = nlon;
    g.lat_start = lat0;
    g.dlat = dlat;
    g.nlat = nlat;
    return g;
}

Region region(double w, double e, double s, double n)
{
    Region r;
    r.west = w;
    r.east = e;
    r.south = s;
    r.north = n;
    return r;
}

void expect_layout(const ExportLayout &l, long row0, long rows, long col0, long cols, double corner_lon,
                   double corner_lat)
{
    EXPECT_EQ(l.row0, row0);
    EXPECT_EQ(l.rows, rows);
    EXPECT_EQ(l.col0, col0);
    EXPECT_EQ(l.cols, cols);
    EXPECT_NEAR(l.transform[0], corner_lon, 1e-9);
    EXPECT_NEAR(l.transform[3], corner_lat, 1e-9);
}

}  // namespace

TEST(ToolExportLayout, WholeCirclesAreTold)
{
    EXPECT_TRUE(whole_circle(grid(0, 1.0 / 12, 4320, 90, -1.0 / 12, 2160)));
    EXPECT_TRUE(whole_circle(grid(-180, 0.175781, 2048, 90, -0.175781, 1024))); /* 6 digits of 360/2048 */
    EXPECT_TRUE(whole_circle(grid(20, 0.5, 720, 0, 1, 1)));
    EXPECT_FALSE(whole_circle(grid(0, 1, 361, 90, -1, 181))); /* repeats its first column */
    EXPECT_FALSE(whole_circle(grid(0, 1, 359, 90, -1, 181)));
    EXPECT_FALSE(whole_circle(grid(360, -1, 360, 90, -1, 181))); /* westwards */
    EXPECT_FALSE(whole_circle(grid(0, 360, 1, 0, 1, 1)));
}

TEST(ToolExportLayout, AWholeCircleStartsAtMinus180)
{
    /* Kept from 0 to 359: column 180 (180 degrees) comes first, as -180. */
    ExportLayout l = export_layout(grid(0, 1, 360, 90, -1, 180), nullptr, false);
    expect_layout(l, 0, 180, 180, 360, -180.5, 90.5);
    EXPECT_DOUBLE_EQ(l.transform[1], 1);
    EXPECT_DOUBLE_EQ(l.transform[5], -1);
    EXPECT_EQ(l.transform[2], 0);
    EXPECT_EQ(l.transform[4], 0);
    /* Cells centred from -179.5: already in order. */
    expect_layout(export_layout(grid(-179.5, 1, 360, 89.5, -1, 180), nullptr, false), 0, 180, 0, 360, -180, 90);
    /* A sample a hair west of -180 by rounding still counts as on it. */
    expect_layout(export_layout(grid(-180 - 1e-9, 1, 360, 0, 1, 1), nullptr, false), 0, 1, 0, 360, -180.5, -0.5);
    /* From 20 to 379.5 in half degrees: -180 is stored column 320 (200 degrees). */
    expect_layout(export_layout(grid(20, 0.5, 720, 0, 1, 1), nullptr, false), 0, 1, 320, 720, -180.25, -0.5);
    /* South-up rows keep their order. */
    expect_layout(export_layout(grid(0, 1, 360, -89.5, 1, 180), nullptr, false), 0, 180, 180, 360, -180.5, -90);
}

TEST(ToolExportLayout, KeepingColumnsKeepsStoredLongitudes)
{
    expect_layout(export_layout(grid(0, 1, 360, 90, -1, 180), nullptr, true), 0, 180, 0, 360, -0.5, 90.5);
    /* Not a whole circle: stored order whatever is asked. */
    expect_layout(export_layout(grid(0, 1, 361, 90, -1, 181), nullptr, false), 0, 181, 0, 361, -0.5, 90.5);
    expect_layout(export_layout(grid(10, 1, 20, 30, -1, 10), nullptr, false), 0, 10, 0, 20, 9.5, 30.5);
}

TEST(ToolExportLayout, RegionsOfAWholeCircleWrapRoundItsSeam)
{
    /* Kept from -180: a region across 180 degrees takes the last columns
     * and then the first, from 170 to 190. */
    Region r = region(170, 190, -10, 10);
    expect_layout(export_layout(grid(-180, 1, 360, 89.5, -1, 180), &r, false), 80, 20, 350, 21, 169.5, 10);
    /* The same on a grid kept from 0: one run, at the region's longitudes. */
    expect_layout(export_layout(grid(0, 1, 360, 89.5, -1, 180), &r, false), 80, 20, 170, 21, 169.5, 10);
    /* Across 0 on a grid kept from 0. */
    Region zero = region(-5, 5, -1, 1);
    expect_layout(export_layout(grid(0, 1, 360, 90, -1, 181), &zero, false), 89, 3, 355, 11, -5.5, 1.5);
    /* With the stored order, the region meets only the run on one side. */
    expect_layout(export_layout(grid(0, 1, 360, 90, -1, 181), &zero, true), 89, 3, 0, 6, -0.5, 1.5);
    /* The whole Earth as a region: every column once. */
    Region all = region(-180, 180, -90, 90);
    expect_layout(export_layout(grid(0, 1, 360, 90, -1, 181), &all, false), 0, 181, 180, 360, -180.5, 90.5);
}

TEST(ToolExportLayout, EmptyRegionsHoldNothing)
{
    Region between = region(10.2, 10.8, -10, 10);
    ExportLayout l = export_layout(grid(0, 1, 360, 90, -1, 181), &between, false);
    EXPECT_EQ(l.cols, 0);
    EXPECT_EQ(l.rows, 0);
    Region south = region(0, 10, -89.9, -89.8);
    EXPECT_EQ(export_layout(grid(0, 1, 360, 89.5, -1, 180), &south, false).rows, 0);
    Region elsewhere = region(50, 60, 0, 10);
    EXPECT_EQ(export_layout(grid(10, 1, 20, 30, -1, 31), &elsewhere, false).cols, 0);
}

TEST(ToolExportLayout, WorldFilesAreNamedAsGdalLooksForThem)
{
    EXPECT_EQ(world_file_name("earth.png"), "earth.pgw");
    EXPECT_EQ(world_file_name("dir/earth.tiff"), "dir/earth.tfw");
    EXPECT_EQ(world_file_name("dir.d/earth"), "dir.d/earth.wld");
    EXPECT_EQ(world_file_name("earth."), "earth..wld");
    EXPECT_EQ(world_file_name("a.b"), "a.bbw");
}

TEST(ToolExportLayout, FilesWrittenBesideTheTemporaryNameFollowTheFinalName)
{
    const std::string temp = "out/.x.asc.tmp-42", final_path = "out/x.asc";
    EXPECT_EQ(side_file_name("out/.x.asc.tmp-42.aux.xml", temp, final_path), "out/x.asc.aux.xml");
    EXPECT_EQ(side_file_name("out/.x.asc.prj", temp, final_path), "out/x.prj");
    EXPECT_EQ(side_file_name(".x.bil.hdr", ".x.bil.tmp-7", "x.bil"), "x.hdr");
    EXPECT_EQ(side_file_name(".x.tmp-7.hdr", ".x.tmp-7", "x"), "x.hdr");
    EXPECT_EQ(side_file_name("out/.x.asc.tmp-42", temp, final_path), ""); /* the file itself */
    EXPECT_EQ(side_file_name("elsewhere/.x.asc.prj", temp, final_path), "");
    EXPECT_EQ(side_file_name("out/y.prj", temp, final_path), "");
}

TEST(ToolExportLayout, KeepColumnsIsAnOption)
{
    ExportOptions o;
    std::string why;
    ASSERT_TRUE(parse_export_options({"world.orx", "--keep-columns", "--res", "0", "out.tif"}, &o, &why)) << why;
    EXPECT_TRUE(o.keep_columns);
    EXPECT_FALSE(o.overwrite);
    ExportOptions plain;
    ASSERT_TRUE(parse_export_options({"world.orx", "--res", "0", "out.tif"}, &plain, &why)) << why;
    EXPECT_FALSE(plain.keep_columns);
}
