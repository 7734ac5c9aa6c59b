// The two projections of the drawing code: plate carree rows evenly spaced
// in latitude, web tiles in Web Mercator with the standard tile edges.
#include <math.h>

#include <gtest/gtest.h>

#include "projection.h"

using orvextool::View;
using orvextool::web_tile_view;

TEST(ToolProjection, WebTilesHaveTheStandardEdges)
{
    View world = web_tile_view(0, 0, 0);
    EXPECT_DOUBLE_EQ(world.region.west, -180);
    EXPECT_DOUBLE_EQ(world.region.east, 180);
    EXPECT_NEAR(world.region.north, 85.0511287798, 1e-9);
    EXPECT_NEAR(world.region.south, -85.0511287798, 1e-9);
    EXPECT_NEAR(world.lat_at(128), 0, 1e-12);
    /* Zoom 1's tile 1/0 is the north-east quarter; zoom 3's tile 7/2
     * starts at 135 E, and its top edge is tile 7/1's bottom edge. */
    View ne = web_tile_view(1, 1, 0);
    EXPECT_DOUBLE_EQ(ne.region.west, 0);
    EXPECT_NEAR(ne.region.south, 0, 1e-12);
    EXPECT_DOUBLE_EQ(web_tile_view(3, 7, 2).region.west, 135);
    EXPECT_DOUBLE_EQ(web_tile_view(3, 7, 2).region.north, web_tile_view(3, 7, 1).region.south);
    EXPECT_NEAR(web_tile_view(3, 7, 2).region.north, 66.5132604431, 1e-9);
}

TEST(ToolProjection, RowsAndLatitudesGoBothWays)
{
    View tile = web_tile_view(4, 9, 5);
    View plate;
    plate.region = orvextool::Region{170, 190, -50, -30};
    plate.width = 64;
    plate.height = 64;
    for (const View &v : {tile, plate}) {
        for (double y : {0.0, 0.5, 17.25, 63.0, 255.5})
            EXPECT_NEAR(v.y_of(v.lat_at(y)), y, 1e-9);
        EXPECT_NEAR(v.lat_at(0), v.region.north, 1e-12);
        EXPECT_NEAR(v.lat_at(static_cast<double>(v.height)), v.region.south, 1e-9);
        EXPECT_DOUBLE_EQ(v.x_of(v.lon_at(3.5)), 3.5);
    }
    EXPECT_DOUBLE_EQ(plate.lat_at(32), -40);
    /* A ring closed over a pole stays finite below any tile. */
    EXPECT_GT(tile.y_of(-90), 256);
    EXPECT_TRUE(std::isfinite(tile.y_of(-90)));
}

TEST(ToolProjection, MercatorPixelsAreSquareOnTheGround)
{
    View tile = web_tile_view(2, 1, 1);
    double east, north;
    tile.pixel_metres(0, &east, &north);
    EXPECT_DOUBLE_EQ(east, north);
    double lat = tile.lat_at(0.5);
    EXPECT_NEAR(east, 90.0 / 256 * 111320.0 * cos(lat * M_PI / 180), 1e-6);
    View plate;
    plate.region = orvextool::Region{0, 10, 0, 10};
    plate.width = plate.height = 10;
    plate.pixel_metres(4, &east, &north);
    EXPECT_DOUBLE_EQ(north, 111320.0);
    EXPECT_NEAR(east, 111320.0 * cos(5.5 * M_PI / 180), 1e-6); /* row 4 centre: 5.5 N */
}
