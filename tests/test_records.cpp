// The records, their on-disk sizes and the code tables.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "OrvexInternal.h"

namespace {

std::string take(char *s)
{
    std::string r = s ? s : "(null)";
    free(s);
    return r;
}

TEST(Records, ConstructorsZeroEveryByte)
{
    OrvexResolution res;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(&res);
    for (size_t i = 0; i < sizeof res; i++) ASSERT_EQ(p[i], 0) << "byte " << i;
    OrvexGrid grid;
    EXPECT_EQ(grid.tiles, nullptr);
    EXPECT_EQ(grid.nlon_per_tile, 0);
    OrvexVectorSegment seg;
    EXPECT_EQ(seg.pts, nullptr);
    EXPECT_EQ(seg.npts, 0);
}

TEST(Records, FieldOffsetsMatchTheFileLayout)
{
    EXPECT_EQ(offsetof(OrvexResolution, source.data_type), 512u);
    EXPECT_EQ(offsetof(OrvexResolution, data_type), 576u);
    EXPECT_EQ(offsetof(OrvexResolution, name), 592u);
    EXPECT_EQ(offsetof(OrvexResolution, resolution), 720u);
    EXPECT_EQ(offsetof(OrvexResolution, degrees_per_pixel), 784u);
    EXPECT_EQ(offsetof(OrvexResolution, ntiles), 840u);
    EXPECT_EQ(offsetof(OrvexGrid, lon_start), 40u);
    EXPECT_EQ(offsetof(OrvexGrid, nlat_per_tile), 96u);
    EXPECT_EQ(offsetof(OrvexVectorTile, fill), 32u);
    EXPECT_EQ(offsetof(OrvexVectorSegment, npts), 24u);
    EXPECT_EQ(offsetof(OrvexVectorSegment, pts), 32u);
}

TEST(Records, TypeNames)
{
    const char *names[] = {"orx", "rgb", "dem", "demb", "gshhs", "esri"};
    for (int t = 0; t < 6; t++) EXPECT_EQ(take(orvex_datatype2str(t)), names[t]);
    EXPECT_EQ(take(orvex_datatype2str(6)), "unknown");
    EXPECT_EQ(take(orvex_datatype2str(-1)), "unknown");
    EXPECT_EQ(take(orvex_maptype2str(0)), "grid");
    EXPECT_EQ(take(orvex_maptype2str(1)), "vector");
    EXPECT_EQ(take(orvex_maptype2str(2)), "unknown");
}

}  // namespace
