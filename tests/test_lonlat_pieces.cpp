// Rings and lines of unwrapped longitudes cut into pieces within -180..180,
// the form exports hand to GIS programs; names and coordinate systems of
// exported and imported vector files.
#include <gtest/gtest.h>

#include <math.h>

#include <algorithm>

#include "layer_name.h"
#include "lonlat_pieces.h"
#include "shapefile_crs.h"
#include "vector_features.h"

using namespace orvextool;

namespace {

using Points = std::vector<std::pair<double, double>>;

LonLatLine line_of(const Points &points)
{
    LonLatLine out;
    for (auto &p : points) out.push_back(PixelPoint{p.first, p.second});
    return out;
}

/* A closed ring without its closing point, started at its least point, so
 * that rings compare whatever point they start at. */
Points canonical(const LonLatLine &closed)
{
    Points out;
    for (size_t k = 0; k + 1 < closed.size(); k++) out.emplace_back(closed[k].x, closed[k].y);
    std::rotate(out.begin(), std::min_element(out.begin(), out.end()), out.end());
    return out;
}

std::vector<Points> canonical_all(const std::vector<LonLatLine> &pieces)
{
    std::vector<Points> out;
    for (const LonLatLine &p : pieces) out.push_back(canonical(p));
    std::sort(out.begin(), out.end());
    return out;
}

double area(const LonLatLine &closed)
{
    double sum = 0;
    for (size_t k = 0; k + 1 < closed.size(); k++)
        sum += closed[k].x * closed[k + 1].y - closed[k + 1].x * closed[k].y;
    return sum / 2;
}

bool inside(const LonLatLine &closed, double x, double y)
{
    bool in = false;
    for (size_t k = 0; k + 1 < closed.size(); k++) {
        const PixelPoint &a = closed[k], &b = closed[k + 1];
        if ((a.y > y) != (b.y > y) && x < a.x + (b.x - a.x) * (y - a.y) / (b.y - a.y)) in = !in;
    }
    return in;
}

int pieces_holding(const std::vector<LonLatLine> &pieces, double x, double y)
{
    int n = 0;
    for (const LonLatLine &p : pieces) n += inside(p, x, y);
    return n;
}

/* What every piece must be: closed, counter-clockwise, within -180..180. */
void expect_well_formed(const std::vector<LonLatLine> &pieces)
{
    for (const LonLatLine &p : pieces) {
        ASSERT_GE(p.size(), 4u);
        EXPECT_EQ(p.front().x, p.back().x);
        EXPECT_EQ(p.front().y, p.back().y);
        EXPECT_GT(area(p), 0);
        for (const PixelPoint &q : p) {
            EXPECT_GE(q.x, -180.0);
            EXPECT_LE(q.x, 180.0);
        }
    }
}

}  // namespace

TEST(LonLatPieces, SquareAcrossTheMeridianIsCutInTwoWhicheverWayItWinds)
{
    Points square{{170, 10}, {190, 10}, {190, 20}, {170, 20}};
    std::vector<Points> expected{{{-180, 10}, {-170, 10}, {-170, 20}, {-180, 20}},
                                 {{170, 10}, {180, 10}, {180, 20}, {170, 20}}};
    std::vector<LonLatLine> ccw = ring_pieces(line_of(square));
    expect_well_formed(ccw);
    EXPECT_EQ(canonical_all(ccw), expected);
    Points reversed(square.rbegin(), square.rend());
    reversed.push_back(reversed.front());  // closed input as well
    EXPECT_EQ(canonical_all(ring_pieces(line_of(reversed))), expected);
    // A turn further east (540 is 180 again) gives the same pieces.
    Points far{{530, 10}, {550, 10}, {550, 20}, {530, 20}};
    EXPECT_EQ(canonical_all(ring_pieces(line_of(far))), expected);
}

TEST(LonLatPieces, ArmsAcrossTheMeridianBecomePiecesOfTheirOwn)
{
    // A "C" open to the west whose two arms reach east past 180.
    Points c{{170, 0}, {190, 0}, {190, 2}, {175, 2}, {175, 8}, {190, 8}, {190, 10}, {170, 10}};
    std::vector<LonLatLine> pieces = ring_pieces(line_of(c));
    expect_well_formed(pieces);
    std::vector<Points> expected{{{-180, 0}, {-170, 0}, {-170, 2}, {-180, 2}},
                                 {{-180, 8}, {-170, 8}, {-170, 10}, {-180, 10}},
                                 {{170, 0}, {180, 0}, {180, 2}, {175, 2}, {175, 8}, {180, 8}, {180, 10}, {170, 10}}};
    EXPECT_EQ(canonical_all(pieces), expected);
    // Its mirror image, arms reaching west past -180: the arms are now on
    // the west side of the cut.
    Points mirror;
    for (auto it = c.rbegin(); it != c.rend(); ++it) mirror.emplace_back(-it->first, it->second);
    pieces = ring_pieces(line_of(mirror));
    expect_well_formed(pieces);
    ASSERT_EQ(pieces.size(), 3u);
    double total = 0;
    for (const LonLatLine &p : pieces) total += area(p);
    EXPECT_DOUBLE_EQ(total, 20 * 10 - 15 * 6);
    EXPECT_EQ(pieces_holding(pieces, -172, 5), 1);
    EXPECT_EQ(pieces_holding(pieces, -177, 5), 0);  // in the notch, both sides of 180
    EXPECT_EQ(pieces_holding(pieces, 175, 5), 0);
    EXPECT_EQ(pieces_holding(pieces, 175, 1), 1);  // the arms
    EXPECT_EQ(pieces_holding(pieces, 175, 9), 1);
}

TEST(LonLatPieces, RingGoingRoundTheEarthClosesAlongItsPole)
{
    // Antarctica as shoreline files hold it: from -180 round to 180.
    Points south{{-180, -78}, {-90, -72}, {0, -70}, {90, -66}, {180, -78}};
    std::vector<LonLatLine> pieces = ring_pieces(line_of(south));
    expect_well_formed(pieces);
    ASSERT_EQ(pieces.size(), 1u);
    std::vector<Points> expected{{{-180, -90}, {180, -90}, {180, -78}, {90, -66}, {0, -70}, {-90, -72}, {-180, -78}}};
    EXPECT_EQ(canonical_all(pieces), expected);
    EXPECT_EQ(pieces_holding(pieces, 0, -80), 1);
    EXPECT_EQ(pieces_holding(pieces, 120, -88), 1);
    EXPECT_EQ(pieces_holding(pieces, 0, -60), 0);
    // One that starts elsewhere (from -170 round to 190) is cut at 180 and
    // both pieces reach the pole; a northern one closes at the north pole.
    Points shifted{{-170, -75}, {0, -70}, {190, -75}};
    pieces = ring_pieces(line_of(shifted));
    expect_well_formed(pieces);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces_holding(pieces, -175, -89), 1);
    EXPECT_EQ(pieces_holding(pieces, 175, -89), 1);
    Points north{{180, 80}, {0, 85}, {-180, 80}};
    pieces = ring_pieces(line_of(north));
    expect_well_formed(pieces);
    EXPECT_EQ(pieces_holding(pieces, 30, 89), 1);
}

TEST(LonLatPieces, LakeAcrossTheMeridianStaysInsideItsLand)
{
    Points land{{160, -10}, {200, -10}, {200, 10}, {160, 10}};
    Points lake{{175, -2}, {178, -4}, {183, -3}, {186, 2}, {179, 3}};
    std::vector<LonLatLine> land_pieces = ring_pieces(line_of(land)), lake_pieces = ring_pieces(line_of(lake));
    expect_well_formed(lake_pieces);
    ASSERT_EQ(land_pieces.size(), 2u);
    ASSERT_EQ(lake_pieces.size(), 2u);
    for (const LonLatLine &piece : lake_pieces) {
        double west = 180, east = -180;
        for (const PixelPoint &p : piece) west = std::min(west, p.x), east = std::max(east, p.x);
        // Each lake piece lies on one side, within the land piece there.
        EXPECT_TRUE(east <= -170 + 1e-9 ? west >= -180 : west >= 175);
        double cx = west < 0 ? -179 : 179.5;
        EXPECT_EQ(pieces_holding(land_pieces, cx, 0), 1);
        EXPECT_TRUE(inside(piece, cx, 0));
    }
}

TEST(LonLatPieces, RingsThatTouchTheMeridianOrHoldNoAreaAreNotCut)
{
    // A ring the source cut at 180 keeps its edge along it, on its side.
    Points west{{170, 0}, {180, 0}, {180, 10}, {170, 10}}, east{{180, 0}, {190, 0}, {190, 10}, {180, 10}};
    EXPECT_EQ(canonical_all(ring_pieces(line_of(west))), (std::vector<Points>{west}));
    EXPECT_EQ(canonical_all(ring_pieces(line_of(east))),
              (std::vector<Points>{{{-180, 0}, {-170, 0}, {-170, 10}, {-180, 10}}}));
    // A vertex touching 180 from the west leaves the ring whole.
    Points touch{{170, 0}, {175, 0}, {180, 5}, {175, 10}, {170, 10}};
    EXPECT_EQ(ring_pieces(line_of(touch)).size(), 1u);
    EXPECT_TRUE(ring_pieces(line_of({{0, 0}, {1, 1}})).empty());
    EXPECT_TRUE(ring_pieces(line_of({{0, 0}, {1, 1}, {2, 2}, {0, 0}})).empty());
    EXPECT_TRUE(ring_pieces(LonLatLine{}).empty());
}

TEST(LonLatPieces, LinesAreCutWhereTheyCrossTheMeridian)
{
    std::vector<LonLatLine> pieces = line_pieces(line_of({{170, 0}, {190, 0}, {190, 5}, {170, 5}}));
    ASSERT_EQ(pieces.size(), 3u);
    auto pts = [](const LonLatLine &l) {
        Points out;
        for (const PixelPoint &p : l) out.emplace_back(p.x, p.y);
        return out;
    };
    EXPECT_EQ(pts(pieces[0]), (Points{{170, 0}, {180, 0}}));
    EXPECT_EQ(pts(pieces[1]), (Points{{-180, 0}, {-170, 0}, {-170, 5}, {-180, 5}}));
    EXPECT_EQ(pts(pieces[2]), (Points{{180, 5}, {170, 5}}));
    // Running along 180 stays on the side it came from.
    pieces = line_pieces(line_of({{170, 0}, {180, 0}, {180, 5}, {170, 5}}));
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].size(), 4u);
    // Wholly a turn east: turned back whole; a single point gives nothing.
    pieces = line_pieces(line_of({{365, 1}, {370, 2}}));
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pts(pieces[0]), (Points{{5, 1}, {10, 2}}));
    EXPECT_TRUE(line_pieces(line_of({{5, 1}})).empty());
}

TEST(ExportLayerName, GeoPackageReservedPrefixIsAvoided)
{
    EXPECT_EQ(layer_name_for("GPKG", "gpkg-shore"), "res_gpkg-shore");
    EXPECT_EQ(layer_name_for("GPKG", "GPKG_x"), "res_GPKG_x");
    EXPECT_EQ(layer_name_for("GPKG", "shore-gpkg"), "shore-gpkg");
    EXPECT_EQ(layer_name_for("GeoJSON", "gpkg-shore"), "gpkg-shore");
    EXPECT_EQ(layer_name_for("FlatGeobuf", ""), "segments");
}

TEST(ShapefileCrs, OnlyLongitudeLatitudeOnWgs84KeepsThePlainRoad)
{
    EXPECT_EQ(prj_path_for("a/b.shp"), "a/b.prj");
    EXPECT_EQ(prj_path_for("a.b/c"), "a.b/c.prj");
    const char *esri = "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,"
                       "298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
    const char *ogc = "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,"
                      "AUTHORITY[\"EPSG\",\"7030\"]],AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,"
                      "AUTHORITY[\"EPSG\",\"8901\"]],UNIT[\"degree\",0.0174532925199433]]";
    EXPECT_TRUE(prj_is_lonlat_wgs84(esri));
    EXPECT_TRUE(prj_is_lonlat_wgs84(ogc));
    EXPECT_TRUE(prj_is_lonlat_wgs84(" \n"));
    const char *utm = "PROJCS[\"WGS_1984_UTM_Zone_33N\",GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\","
                      "SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],PRIMEM[\"Greenwich\",0.0],"
                      "UNIT[\"Degree\",0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"]]";
    const char *nad27 = "GEOGCS[\"GCS_North_American_1927\",DATUM[\"D_North_American_1927\",SPHEROID["
                        "\"Clarke_1866\",6378206.4,294.9786982]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\","
                        "0.0174532925199433]]";
    const char *paris = "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,"
                        "298.257223563]],PRIMEM[\"Paris\",2.33722917],UNIT[\"Degree\",0.0174532925199433]]";
    const char *grads = "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,"
                        "298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Grad\",0.01570796326794897]]";
    for (const char *other : {utm, nad27, paris, grads, "GEOGCRS[\"WGS 84\"]", "garbage"})
        EXPECT_FALSE(prj_is_lonlat_wgs84(other)) << other;
}

namespace {

OrvexVectorSegment segment_of(std::vector<OrvexXY> &pts, int level, int fill)
{
    OrvexVectorSegment s;
    s.level = level;
    s.fill = fill;
    s.npts = static_cast<long>(pts.size());
    s.pts = pts.data();
    s.lonmin = s.lonmax = pts[0].lon_microdegrees;
    s.latmin = s.latmax = pts[0].lat_microdegrees;
    return s;
}

OrvexXY xy(int lon, int lat)
{
    OrvexXY p;
    p.lon_microdegrees = lon;
    p.lat_microdegrees = lat;
    return p;
}

}  // namespace

// A resolution's segments as features: a ring across 180 kept in two tiles
// comes once, in two pieces; a line across it in two; filter honoured.
TEST(VectorFeatures, SegmentsComeOnceCutAtTheMeridian)
{
    std::vector<OrvexXY> square{xy(170000000, 10000000), xy(-170000000, 10000000), xy(-170000000, 20000000),
                                xy(170000000, 20000000)};
    std::vector<OrvexXY> line{xy(175000000, 0), xy(-175000000, 1000000)};
    std::vector<OrvexVectorSegment> first{segment_of(square, 1, 0), segment_of(line, 0, 0)},
        second{segment_of(square, 1, 0)};
    OrvexVectorTile tiles[2];
    tiles[0].fill = tiles[1].fill = 1;
    tiles[0].nsegments = 2;
    tiles[0].segments = first.data();
    tiles[1].nsegments = 1;
    tiles[1].segments = second.data();
    OrvexVector v;
    v.tiles = tiles;
    OrvexResolution res;
    res.map_type = ORVEX_MAP_VECTOR;
    res.ntiles = 2;
    res.data = &v;
    std::vector<orvexcli::VectorFeature> got;
    auto keep = [&](const orvexcli::VectorFeature &f) {
        got.push_back(f);
        return 0;
    };
    ASSERT_EQ(orvexcli::for_each_feature(res, nullptr, keep), 0);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(got[0].filled);
    EXPECT_EQ(got[0].tile, 0);
    EXPECT_EQ(canonical_all(got[0].parts), (std::vector<Points>{{{-180, 10}, {-170, 10}, {-170, 20}, {-180, 20}},
                                                               {{170, 10}, {180, 10}, {180, 20}, {170, 20}}}));
    // Two points in a filled tile outline no area: a line, cut at 180.
    EXPECT_FALSE(got[1].filled);
    ASSERT_EQ(got[1].parts.size(), 2u);
    EXPECT_DOUBLE_EQ(got[1].parts[0].back().x, 180);
    EXPECT_DOUBLE_EQ(got[1].parts[0].back().y, 0.5);
    EXPECT_DOUBLE_EQ(got[1].parts[1].front().x, -180);
    got.clear();
    ASSERT_EQ(orvexcli::for_each_feature(
                  res, [](const OrvexVectorSegment &s) { return s.npts > 2; }, keep),
              0);
    EXPECT_EQ(got.size(), 1u);
    EXPECT_EQ(orvexcli::for_each_feature(res, nullptr, [](const orvexcli::VectorFeature &) { return 7; }), 7);
    res.map_type = ORVEX_MAP_GRID;
    EXPECT_EQ(orvexcli::for_each_feature(res, nullptr, keep), -1);
    res.data = nullptr;
}
