// Tile sizes: what a declaration accepts every reader takes, and what the
// readers cap a declaration refuses, naming both numbers. Tiles are
// declared, never filled, so nothing large is allocated or written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "grid_fixtures.h"
#include "map_records.h"

namespace {

class GridSizes : public GridTest {};

// An input of one uncompressed elevation tile of rows x cols samples whose
// payload is never read.
void fake_big_input(Orvex *in, long rows, long cols, const std::vector<std::vector<uint8_t>> &payload)
{
    grid_fake_input(in, {1}, rows, cols, false, payload);
}

TEST_F(GridSizes, CompressedTilesPastTheInflateCapAreRefusedWithBothNumbers)
{
    std::vector<std::vector<uint8_t>> payload = {{0, 0}};
    Orvex in;
    fake_big_input(&in, 48000, 48000, payload);
    Orvex out;
    ASSERT_EQ(out.setOutput(dir.path("big.orx").c_str()), 0);
    EXPECT_EQ(out.setResolutionHdrGrid(&in, 0, 0, 1, 1, 1, 1, "big", "x"), -1);
    EXPECT_EQ(grid_take_messages(),
              std::vector<std::string>{"Orvex::setResolutionHdrGrid: tiles of 48000 x 48000 samples hold 4608000000 "
                                       "bytes, more than the 4294967295 bytes a compressed tile may hold: use more "
                                       "tiles, or no compression\n"});
    EXPECT_EQ(out.frame.nresolutions, 0);
    // More tiles than a tile number counts.
    EXPECT_EQ(out.setResolutionHdrGrid(&in, 0, 0, 1, 0, 48000, 48000, "many", "x"), -1);
    EXPECT_EQ(grid_take_messages(),
              std::vector<std::string>{"Orvex::setResolutionHdrGrid: 48000 x 48000 tiles make 2304000000, more than "
                                       "the 2147483647 a tile number counts\n"});
    // Cut in two, each tile fits.
    EXPECT_EQ(out.setResolutionHdrGrid(&in, 0, 0, 1, 1, 2, 1, "half", "x"), 0);
}

TEST_F(GridSizes, RawTilesOfAnySizeAreDeclaredAndOpened)
{
    std::vector<std::vector<uint8_t>> payload = {{0, 0}};
    Orvex in;
    fake_big_input(&in, 48000, 48000, payload);
    std::string path = dir.path("raw.orx");
    {
        Orvex out;
        ASSERT_EQ(out.setOutput(path.c_str()), 0);
        ASSERT_EQ(out.setResolutionHdrGrid(&in, 0, 0, 1, 0, 1, 1, "raw", "x"), 0);
    }
    Orvex map;
    ASSERT_EQ(map.setInput(path.c_str(), 0, "orx"), 0);
    const OrvexGrid *g = orvexcli::grid_of(map.frame.resolutions[0]);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(orvexcli::tile_bytes(*g), 4608000000L);
    // The same header marked compressed is refused by the reader, with the numbers.
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    long one = 1;
    ASSERT_EQ(pwrite(fd, &one, 8, 16 + 848 + 8), 8);  // the grid header's compressed field
    close(fd);
    Orvex damaged;
    EXPECT_EQ(damaged.setInput(path.c_str(), 0, "orx"), -1);
    auto m = grid_take_messages();
    ASSERT_FALSE(m.empty());
    EXPECT_NE(m[0].find("resolution 0: grid tile size is negative or too large (compressed tiles of 4608000000 "
                        "bytes, above the 4294967295 a compressed tile may inflate to)"),
              std::string::npos)
        << m[0];
}

TEST_F(GridSizes, ToolsTakeEverySizeThe64BitFieldsGive)
{
    OrvexGrid g;
    g.content = 1;
    g.nlat_per_tile = 282797;
    g.nlon_per_tile = 1296000;
    EXPECT_EQ(orvexcli::tile_bytes(g), 733009824000L);
    g.content = 0;
    g.nlat_per_tile = 1L << 31;
    g.nlon_per_tile = 1L << 31;
    EXPECT_EQ(orvexcli::tile_bytes(g), -1);  // 3 x 2^62 overflows
    g.nlat_per_tile = 0;
    EXPECT_EQ(orvexcli::tile_bytes(g), -1);
}

}  // namespace
