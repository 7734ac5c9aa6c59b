// Locating tiles and samples: truncation toward zero, turn-by-turn
// longitude wrapping, and positions that cannot be located.

#include <gtest/gtest.h>
#include <math.h>

#include "OrvexInternal.h"

namespace {

struct Located {
    int tile;
    long row, col;
};

OrvexResolution lattice(double lon_start, double dlon_tiles, long nlon_tiles, double lat_start,
                        double dlat_tiles, long nlat_tiles)
{
    OrvexResolution r;
    r.lon_start_tiles = lon_start;
    r.dlon_tiles = dlon_tiles;
    r.nlon_tiles = nlon_tiles;
    r.lat_start_tiles = lat_start;
    r.dlat_tiles = dlat_tiles;
    r.nlat_tiles = nlat_tiles;
    r.ntiles = nlon_tiles * nlat_tiles;
    return r;
}

Located find(OrvexResolution r, double lat, double lon)
{
    Orvex o;
    Located l{7, 7, 7};
    EXPECT_EQ(o.findTile(&r, lat, lon, &l.tile, &l.row, &l.col), 0);
    return l;
}

void expect_outside(const Located &l)
{
    EXPECT_EQ(l.tile, -1);
    EXPECT_EQ(l.row, -1);
    EXPECT_EQ(l.col, -1);
}

// A world lattice of 36 x 18 tiles of 10 degrees from (-180, -90).
OrvexResolution world() { return lattice(-180, 10, 36, -90, 10, 18); }

TEST(FindTile, WorldLatticeWrapsOneTurnAtATime)
{
    EXPECT_EQ(find(world(), 5, -180).col, 0);
    expect_outside(find(world(), 5, 180));  // the east edge is not wrapped
    Located east = find(world(), 5, 190);
    EXPECT_EQ(east.col, 1);
    EXPECT_EQ(east.row, 9);
    EXPECT_EQ(east.tile, 9 * 36 + 1);
    EXPECT_EQ(find(world(), 5, -190).col, 35);
    EXPECT_EQ(find(world(), 5, 3 * 360 + 15).col, 19);
    EXPECT_EQ(find(world(), 5, -5 * 360 + 15).col, 19);
}

TEST(FindTile, NarrowLatticeTurnsBackAndForth)
{
    OrvexResolution r = lattice(0, 10, 9, 0, 10, 9);
    expect_outside(find(r, 5, 200));  // -160, then back to 200
    EXPECT_EQ(find(r, 5, 400).col, 4);  // wraps to 40
    expect_outside(find(r, 5, 90));     // the east edge
    EXPECT_EQ(find(r, 5, 0).col, 0);    // the west edge
}

TEST(FindTile, QuotientsTruncateTowardZero)
{
    OrvexResolution r = lattice(0, 10, 9, 0, 10, 9);
    Located l = find(r, -7, 5);  // quotient -0.7
    EXPECT_EQ(l.row, 0);
    EXPECT_EQ(l.tile, 0);
    expect_outside(find(r, -10, 5));  // a whole tile before the origin
    EXPECT_EQ(find(r, 89.9, 5).row, 8);
    expect_outside(find(r, 90, 5));
    // Southward rows: the quotient is positive going south.
    OrvexResolution south = lattice(0, 10, 9, 90, -10, 9);
    EXPECT_EQ(find(south, 85, 5).row, 0);
    EXPECT_EQ(find(south, 92, 5).row, 0);
    EXPECT_EQ(find(south, 5, 5).row, 8);
    expect_outside(find(south, -5, 5));
}

TEST(FindTile, TileNumbersRunRowByRow)
{
    OrvexResolution r = lattice(0, 1, 3, 0, 1, 2);
    Located l = find(r, 1.5, 2.5);
    EXPECT_EQ(l.row, 1);
    EXPECT_EQ(l.col, 2);
    EXPECT_EQ(l.tile, 5);
}

TEST(FindTile, UnlocatablePositionsAreOutsideAndEveryCallEnds)
{
    expect_outside(find(world(), NAN, 10));
    expect_outside(find(world(), 5, NAN));
    expect_outside(find(world(), 5, INFINITY));
    expect_outside(find(world(), 5, -INFINITY));
    expect_outside(find(world(), INFINITY, 10));
    // Too large to change by a turn: answered, not looped on.
    expect_outside(find(world(), 5, 1e300));
    expect_outside(find(world(), 5, -1e300));
    Located far = find(world(), 5, 10 + 360.0 * 1e7);  // reduced in one step
    EXPECT_EQ(far.col, 19);
    // A column found after the row was: everything is reset.
    expect_outside(find(lattice(0, 10, 9, 0, 10, 9), 5, 95));
    // A lattice whose edges are not finite locates nothing.
    expect_outside(find(lattice(-INFINITY, 10, 36, -90, 10, 18), 5, 10));
}

TEST(FindTile, WestwardLatticeIsTheMirrorImage)
{
    OrvexResolution r = lattice(180, -10, 36, -90, 10, 18);
    EXPECT_EQ(find(r, 5, 180).col, 0);   // the start edge
    EXPECT_EQ(find(r, 5, 175).col, 0);
    EXPECT_EQ(find(r, 5, -175).col, 35);
    expect_outside(find(r, 5, -180));    // the far edge
    EXPECT_EQ(find(r, 5, 190).col, 35);  // turned to -170
    EXPECT_EQ(find(r, 5, -190).col, 1);  // turned to 170
    OrvexResolution narrow = lattice(90, -10, 9, -90, 10, 18);
    expect_outside(find(narrow, 5, 100));
    EXPECT_EQ(find(narrow, 5, 45 + 720).col, 4);
}

TEST(FindTile, ZeroWidthLocatesNothing)
{
    expect_outside(find(lattice(0, 0, 9, 0, 10, 9), 5, 0));
    expect_outside(find(lattice(0, 10, 9, 0, 0, 9), 0, 5));
}

TEST(FindTile, ByNumberUsesTheObjectsResolution)
{
    Orvex o;
    OrvexResolution *res = static_cast<OrvexResolution *>(calloc(2, sizeof(OrvexResolution)));
    res[1] = world();
    o.frame.resolutions = res;
    o.frame.nresolutions = 2;
    Located l{7, 7, 7};
    o.findTile(1, 5, 190, &l.tile, &l.row, &l.col);
    EXPECT_EQ(l.col, 1);
    o.findTile(2, 5, 190, &l.tile, &l.row, &l.col);
    expect_outside(l);
    o.findTile(-1, 5, 190, &l.tile, &l.row, &l.col);
    expect_outside(l);
}

TEST(FindTile, TileNumbersBeyondAnIntAreOutside)
{
    OrvexResolution r = lattice(0, 1, 100000, 0, 1, 100000);
    expect_outside(find(r, 99999.5, 99999.5));
    EXPECT_EQ(find(r, 1.5, 2.5).tile, 100002);
}

struct Pixel {
    long row, col, offset;
};

Pixel pixel(OrvexResolution r, OrvexGrid g, long ilat_tile, long ilon_tile, double lat, double lon)
{
    Orvex o;
    Pixel p{7, 7, 7};
    EXPECT_EQ(o.findPixelWithinTile(&r, &g, ilat_tile, ilon_tile, lat, lon, &p.row, &p.col, &p.offset), 0);
    return p;
}

void expect_outside(const Pixel &p)
{
    EXPECT_EQ(p.row, -1);
    EXPECT_EQ(p.col, -1);
    EXPECT_EQ(p.offset, -1);
}

// A world grid of 2 x 4 tiles, each 100 x 100 samples of 0.9 x 0.9 degrees.
struct WorldGrid {
    OrvexResolution r = lattice(-180, 90, 4, -90, 90, 2);
    OrvexGrid g;
    WorldGrid()
    {
        g.content = 1;
        g.lon_start = -180;
        g.lat_start = -90;
        g.dlon = g.dlat = 0.9;
        g.nlon_per_tile = g.nlat_per_tile = 100;
    }
};

TEST(FindPixel, OffsetsOfElevationAndColour)
{
    WorldGrid w;
    Pixel p = pixel(w.r, w.g, 1, 2, 2 * 0.9 + 0.1, 3 * 0.9 + 0.1);
    EXPECT_EQ(p.row, 2);
    EXPECT_EQ(p.col, 3);
    EXPECT_EQ(p.offset, 406);
    w.g.content = 0;
    EXPECT_EQ(pixel(w.r, w.g, 1, 2, 1.9, 2.8).offset, 609);
    w.g.content = 7;  // any other content is colour
    EXPECT_EQ(pixel(w.r, w.g, 1, 2, 1.9, 2.8).offset, 609);
}

TEST(FindPixel, EdgesTruncationAndWrapping)
{
    WorldGrid w;
    // Tile (0, 1) runs from -90 to 0 in longitude.
    EXPECT_EQ(pixel(w.r, w.g, 0, 1, -89.5, -90 + 360 + 0.5).col, 0);  // one turn east
    expect_outside(pixel(w.r, w.g, 0, 1, -89.5, 0));   // the east edge
    EXPECT_EQ(pixel(w.r, w.g, 0, 1, -89.5, -90).col, 0);
    EXPECT_EQ(pixel(w.r, w.g, 0, 1, -90.5, -89).row, 0);  // quotient -0.55
    expect_outside(pixel(w.r, w.g, 0, 1, -91, -89));      // quotient -1.1
    expect_outside(pixel(w.r, w.g, 0, 1, 0, -89));        // row 100
    expect_outside(pixel(w.r, w.g, 0, 1, NAN, -89));
    expect_outside(pixel(w.r, w.g, 0, 1, -89, NAN));
    expect_outside(pixel(w.r, w.g, 0, 1, -89, 1e300));
    EXPECT_EQ(pixel(w.r, w.g, 0, 1, -89, -89.5 + 360 * 1e6).col, 0);
}

TEST(FindPixel, TheSampleSpacingDecidesTheDirection)
{
    // Samples running west from 0 in a tile 90 degrees wide.
    OrvexResolution r = lattice(0, -90, 4, -90, 90, 2);
    OrvexGrid g;
    g.content = 1;
    g.lon_start = 0;
    g.lat_start = -90;
    g.dlon = -0.9;
    g.dlat = 0.9;
    g.nlon_per_tile = g.nlat_per_tile = 100;
    EXPECT_EQ(pixel(r, g, 0, 0, -89.5, -0.5).col, 0);
    EXPECT_EQ(pixel(r, g, 0, 0, -89.5, 0).col, 0);
    expect_outside(pixel(r, g, 0, 0, -89.5, -90));
    EXPECT_EQ(pixel(r, g, 0, 0, -89.5, 359.5).col, 0);  // one turn west
    EXPECT_EQ(pixel(r, g, 0, 1, -89.5, -90.5).col, 0);
    g.dlon = 0;
    expect_outside(pixel(r, g, 0, 0, -89.5, -0.5));
}

}  // namespace
