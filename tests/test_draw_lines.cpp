// Lines and land cover on synthetic rings: anti-aliased lines, styles that
// thin and leave out lines at small scales, simplification and clipping
// within their bounds, land and water that agree with the coast, rings
// across the 180 degree meridian and round a pole.
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <vector>

#include "palette.h"
#include "polyline.h"
#include "vectors.h"

using orvexcli::LandCover;
using orvexcli::Ring;
using orvextool::Image;
using orvextool::PixelBox;
using orvextool::PixelPoint;
using orvextool::Rgb;
using orvextool::View;

namespace {

Ring make(int level, bool fill, const char *family, std::vector<PixelPoint> lonlat)
{
    Ring r{level, fill, Rgb{200, 30, 30}, std::move(lonlat), 0, 0, 0, 0, family, {}, {}, 0, nullptr};
    orvexcli::measure_ring(&r);
    return r;
}

Ring square(int level, double w, double s, double e, double n)
{
    return make(level, true, "shore", {{w, s}, {e, s}, {e, n}, {w, n}});
}

/* A plate carree view, one pixel `px` degrees square. */
View plate(double w, double e, double s, double n, double px)
{
    View v;
    v.region.west = w;
    v.region.east = e;
    v.region.south = s;
    v.region.north = n;
    v.width = lround((e - w) / px);
    v.height = lround((n - s) / px);
    return v;
}

int cover_at(const LandCover &c, const View &v, double lon, double lat)
{
    long i = static_cast<long>(floor(v.x_of(lon))), j = static_cast<long>(floor(v.y_of(lat)));
    return c.land[static_cast<size_t>(j * v.width + i)];
}

int change(Rgb a, Rgb b)
{
    return std::max({abs(a.r - b.r), abs(a.g - b.g), abs(a.b - b.b)});
}

double distance_to_polyline(const PixelPoint &p, const std::vector<PixelPoint> &line)
{
    double best = HUGE_VAL;
    for (size_t k = 0; k + 1 < line.size(); k++) {
        double dx = line[k + 1].x - line[k].x, dy = line[k + 1].y - line[k].y;
        double len2 = dx * dx + dy * dy;
        double t = len2 > 0 ? ((p.x - line[k].x) * dx + (p.y - line[k].y) * dy) / len2 : 0;
        t = std::max(0.0, std::min(1.0, t));
        best = std::min(best, hypot(p.x - line[k].x - t * dx, p.y - line[k].y - t * dy));
    }
    return best;
}

const Rgb kPaper{255, 255, 255};

}  // namespace

TEST(DrawLinesGeometry, SimplificationKeepsEndsAndStaysWithinTolerance)
{
    std::mt19937 rng(7);
    std::normal_distribution<double> step(0, 0.1);
    std::vector<PixelPoint> walk{{10, 10}};
    for (int k = 0; k < 5000; k++) walk.push_back({walk.back().x + 0.05 + step(rng), walk.back().y + step(rng)});
    for (double tol : {0.3, 0.5, 2.0}) {
        std::vector<PixelPoint> s = orvextool::simplify_polyline(walk, tol);
        ASSERT_GE(s.size(), 2u);
        EXPECT_EQ(s.front().x, walk.front().x);
        EXPECT_EQ(s.front().y, walk.front().y);
        EXPECT_EQ(s.back().x, walk.back().x);
        EXPECT_EQ(s.back().y, walk.back().y);
        EXPECT_LT(s.size(), walk.size() / 2);
        double worst = 0;
        for (const PixelPoint &p : walk) worst = std::max(worst, distance_to_polyline(p, s));
        EXPECT_LE(worst, tol + 1e-9) << "tolerance " << tol;
    }
    /* A closed ring, whose first and last points are one: the far side stays. */
    std::vector<PixelPoint> ring;
    for (int k = 0; k <= 360; k++) ring.push_back({50 + 20 * cos(k * M_PI / 180), 50 + 20 * sin(k * M_PI / 180)});
    std::vector<PixelPoint> s = orvextool::simplify_polyline(ring, 0.4);
    double far = 0;
    for (const PixelPoint &p : s) far = std::max(far, hypot(p.x - ring[0].x, p.y - ring[0].y));
    EXPECT_NEAR(far, 40, 0.5);
    for (const PixelPoint &p : ring) EXPECT_LE(distance_to_polyline(p, s), 0.4 + 1e-9);
}

TEST(DrawLinesGeometry, ClippingKeepsOnlyWhatIsInsideTheBox)
{
    const PixelBox box{0, 0, 10, 10};
    /* In, out past the right edge, back in: two parts, ends on the edge. */
    auto parts = orvextool::clip_polyline({{2, 2}, {20, 2}, {20, 8}, {2, 8}}, box);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_DOUBLE_EQ(parts[0].back().x, 10);
    EXPECT_DOUBLE_EQ(parts[1].front().x, 10);
    EXPECT_DOUBLE_EQ(parts[1].back().x, 2);
    EXPECT_TRUE(orvextool::clip_polyline({{-5, -5}, {-1, 20}}, box).empty());
    /* A ring far larger than the box, with coordinates no rasteriser's
     * fixed point holds, becomes the box. */
    auto ring = orvextool::clip_ring({{-1e9, -1e9}, {1e9, -1e9}, {1e9, 1e9}, {-1e9, 1e9}}, box);
    ASSERT_GE(ring.size(), 4u);
    for (const PixelPoint &p : ring) EXPECT_TRUE(box.contains(p));
    /* One wholly inside comes back as it was. */
    EXPECT_EQ(orvextool::clip_ring({{1, 1}, {3, 1}, {2, 4}}, box).size(), 3u);
}

TEST(DrawLinesGeometry, TheRingIndexFindsWhatAViewReaches)
{
    std::vector<Ring> rings{square(1, 10, 10, 12, 12), square(1, 100, -50, 101, -49), square(1, 175, -5, 185, 5),
                            square(2, -170, -80, 170, 80)};
    orvexcli::index_rings(&rings);
    auto found = [&](double w, double e, double s, double n) { return orvexcli::rings_near(rings, w, e, s, n); };
    EXPECT_EQ(found(11, 11.5, 11, 11.5), (std::vector<size_t>{0, 3}));
    EXPECT_EQ(found(-178, -177, 0, 1), (std::vector<size_t>{2, 3})); /* a turn west of 182 */
    EXPECT_EQ(found(40, 41, 85, 86), (std::vector<size_t>{}));
    EXPECT_EQ(found(-180, 180, -90, 90).size(), 4u); /* the world: every ring */
    /* Reordered since: the index no longer applies, every ring is looked at. */
    std::swap(rings[0], rings[1]);
    EXPECT_EQ(found(11, 11.5, 11, 11.5).size(), 4u);
    /* A subset or rings made by hand carry no index that fits. */
    std::vector<Ring> some(rings.begin(), rings.begin() + 2);
    EXPECT_EQ(orvexcli::rings_near(some, 11, 11.5, 11, 11.5).size(), 2u);
}

TEST(DrawLinesCover, IslandWithALakeAgreesWithItsCoast)
{
    /* Land 10..20 E, 10..20 N, a lake 13..17 inside it with an island
     * 14.5..15.5 and a pond on the island. 0.1 degree pixels. */
    std::vector<Ring> rings{square(1, 10, 10, 20, 20), square(2, 13, 13, 17, 17), square(3, 14.5, 14.5, 15.5, 15.5),
                            square(4, 14.9, 14.9, 15.1, 15.1)};
    View v = plate(5, 25, 5, 25, 0.1);
    LandCover c;
    orvexcli::land_cover(rings, v, &c);
    ASSERT_TRUE(c.any);
    ASSERT_EQ(c.land.size(), static_cast<size_t>(v.width * v.height));
    EXPECT_EQ(cover_at(c, v, 11.5, 11.5), 255);  /* land */
    EXPECT_EQ(cover_at(c, v, 7, 7), 0);          /* sea */
    EXPECT_EQ(cover_at(c, v, 13.5, 15), 0);      /* lake */
    EXPECT_EQ(cover_at(c, v, 14.7, 14.7), 255);  /* island in the lake */
    EXPECT_EQ(cover_at(c, v, 15.0, 15.0), 0);    /* pond on it */
    /* An edge through the middle of a pixel column leaves it half land. */
    View half = plate(5, 25, 5, 25, 0.2);
    std::vector<Ring> offset{square(1, 10.1, 10.1, 19.9, 19.9)};
    orvexcli::land_cover(offset, half, &c);
    EXPECT_NEAR(cover_at(c, half, 10.15, 15), 128, 8);

    /* The coast is drawn on the boundary: every changed pixel within two
     * pixels of a ring's edge, and the coast changes the pixels on it. */
    Image im(v.width, v.height, kPaper);
    orvexcli::draw_lines(rings, v, &im);
    long changed = 0;
    for (long j = 0; j < v.height; j++) {
        for (long i = 0; i < v.width; i++) {
            if (change(im.at(i, j), kPaper) <= 8) continue;
            changed++;
            double x = v.lon_at(i + 0.5), y = v.lat_at(j + 0.5);
            double d = HUGE_VAL;
            for (const Ring &r : rings) {
                std::vector<PixelPoint> outline = r.lonlat;
                outline.push_back(outline.front());
                d = std::min(d, distance_to_polyline({x, y}, outline));
            }
            EXPECT_LE(d, 0.2) << "changed pixel " << i << "," << j << " off the coast";
        }
    }
    EXPECT_GT(changed, 300); /* the island's 400 boundary pixels, less the corners' */
    EXPECT_GT(change(im.at(static_cast<long>(v.x_of(10)), static_cast<long>(v.y_of(15))), kPaper), 40);
}

TEST(DrawLinesCover, NoFilledRingMeansNothingIsKnown)
{
    View v = plate(0, 10, 0, 10, 0.1);
    LandCover c;
    orvexcli::land_cover({make(1, false, "rivers", {{1, 1}, {9, 9}})}, v, &c);
    EXPECT_FALSE(c.any);
    EXPECT_TRUE(c.land.empty());
    /* A filled layer whose rings are all elsewhere: the view is open sea. */
    orvexcli::land_cover({square(1, 50, 50, 60, 60)}, v, &c);
    EXPECT_TRUE(c.any);
    EXPECT_EQ(std::count(c.land.begin(), c.land.end(), 0), v.width * v.height);
    /* Inside a continent no edge crosses the view, and it is all land. */
    orvexcli::land_cover({square(1, -40, -40, 40, 40)}, v, &c);
    EXPECT_EQ(std::count(c.land.begin(), c.land.end(), 255), v.width * v.height);
}

TEST(DrawLinesCover, RingAcrossTheDatelineIsWholeOnBothSides)
{
    /* Unwrapped from 175 E to 175 W (185). */
    std::vector<Ring> rings{square(1, 175, -5, 185, 5)};
    LandCover c;
    View across = plate(170, 190, -10, 10, 0.1); /* 170/-170 */
    orvexcli::land_cover(rings, across, &c);
    EXPECT_EQ(cover_at(c, across, 177, 0), 255);
    EXPECT_EQ(cover_at(c, across, 183, 0), 255);
    EXPECT_EQ(cover_at(c, across, 187, 0), 0);
    /* The western half of the world sees its eastern part at -180..-175. */
    View west = orvextool::web_tile_view(1, 0, 0);
    west.region.south = -10; /* keep rows at the equator in view */
    orvexcli::land_cover(rings, west, &c);
    EXPECT_EQ(cover_at(c, west, -177, 0), 255);
    EXPECT_EQ(cover_at(c, west, -170, 0), 0);
    /* The source's cut along the meridian is filled but not drawn. */
    std::vector<Ring> halves{square(1, 175, -5, 180, 5), square(1, -180, -5, -175, 5)};
    orvexcli::land_cover(halves, across, &c);
    long j = static_cast<long>(across.y_of(0));
    for (long i = static_cast<long>(across.x_of(179)); i <= static_cast<long>(across.x_of(181)); i++)
        EXPECT_EQ(c.land[static_cast<size_t>(j * across.width + i)], 255) << "seam at column " << i;
    Image im(across.width, across.height, kPaper);
    orvexcli::draw_lines(halves, across, &im);
    EXPECT_LE(change(im.at(static_cast<long>(across.x_of(180)), j), kPaper), 8);
    EXPECT_GT(change(im.at(static_cast<long>(across.x_of(175)), j), kPaper), 40);
}

TEST(DrawLinesCover, RingRoundThePoleFillsToIt)
{
    /* Antarctica's way: from 180 W round to 180 E at about 70 S, the ends
     * a whole turn apart. */
    std::vector<PixelPoint> pts;
    for (int lon = -180; lon <= 180; lon += 5) pts.push_back({static_cast<double>(lon), -70 + 3 * sin(lon * M_PI / 60)});
    std::vector<Ring> rings{make(1, true, "shore", pts)};
    View v = plate(-180, 180, -90, -50, 0.25);
    LandCover c;
    orvexcli::land_cover(rings, v, &c);
    EXPECT_EQ(cover_at(c, v, 0, -80), 255);
    EXPECT_EQ(cover_at(c, v, 100, -89.9), 255);
    EXPECT_EQ(cover_at(c, v, 0, -60), 0);
    /* Only the coast is drawn, not the edges that close the ring along the
     * pole or the meridian. */
    Image im(v.width, v.height, kPaper);
    orvexcli::draw_lines(rings, v, &im);
    for (long i = 0; i < v.width; i++) EXPECT_EQ(change(im.at(i, v.height - 1), kPaper), 0);
    long on = static_cast<long>(v.y_of(-70)); /* the coast runs along this pixel edge */
    EXPECT_GT(change(im.at(static_cast<long>(v.x_of(0)), on), kPaper) +
              change(im.at(static_cast<long>(v.x_of(0)), on - 1), kPaper), 40);
    /* A view wholly south of the coast is still land. */
    View polar = plate(0, 40, -89, -85, 0.1);
    orvexcli::land_cover(rings, polar, &c);
    EXPECT_EQ(std::count(c.land.begin(), c.land.end(), 255), polar.width * polar.height);
}

TEST(DrawLinesStyle, LinesAreAntiAliased)
{
    /* A river crossing the view diagonally at a scale where it is drawn. */
    View v = plate(0, 2, 0, 2, 2.0 / 200);
    std::vector<Ring> rings{make(2, false, "rivers", {{0.1, 0.13}, {1.9, 1.71}})};
    Image im(v.width, v.height, kPaper);
    orvexcli::draw_lines(rings, v, &im);
    long partial = 0, full = 0, far_changed = 0;
    int strongest = 0;
    for (long j = 0; j < v.height; j++) {
        for (long i = 0; i < v.width; i++) {
            int d = change(im.at(i, j), kPaper);
            strongest = std::max(strongest, d);
            double dist = distance_to_polyline({v.lon_at(i + 0.5), v.lat_at(j + 0.5)}, rings[0].lonlat) / v.dlon();
            if (dist > 2.5) {
                far_changed += d > 0;
            } else if (d > 0) {
                (d < strongest * 0.8 ? partial : full)++;
            }
        }
    }
    EXPECT_EQ(far_changed, 0);
    EXPECT_GT(full, 100);
    EXPECT_GT(partial, 100); /* a jagged 1-pixel line has none */
}

TEST(DrawLinesStyle, DashedBordersShowTheirDashes)
{
    /* At zoom 7 national borders are dashed: along the line some pixels
     * change and some, in the gaps, do not. */
    View v = plate(0, 2, 0, 2, 2.0 / 364);
    ASSERT_GT(orvextool::line_style(orvextool::LineFamily::borders, 1, orvextool::zoom_of_pixel(v.dlon())).dash, 0);
    std::vector<Ring> rings{make(1, false, "borders", {{0.1, 1.0}, {1.9, 1.0}})};
    Image im(v.width, v.height, kPaper);
    orvexcli::draw_lines(rings, v, &im);
    long j = static_cast<long>(v.y_of(1.0)), inked = 0, gaps = 0;
    for (long i = static_cast<long>(v.x_of(0.3)); i < static_cast<long>(v.x_of(1.7)); i++) {
        int d = std::max(change(im.at(i, j), kPaper), change(im.at(i, j - 1), kPaper));
        (d > 40 ? inked : gaps) += d > 40 || d == 0;
    }
    EXPECT_GT(inked, 100);
    EXPECT_GT(gaps, 50);
}

TEST(DrawLinesStyle, SmallScalesThinAndLeaveOutLines)
{
    using orvextool::line_style;
    using orvextool::LineFamily;
    /* Rivers wait for their zoom, major classes first; widths grow. */
    EXPECT_FALSE(line_style(LineFamily::rivers, 2, 0).draw);
    EXPECT_TRUE(line_style(LineFamily::rivers, 2, 1).draw);
    EXPECT_FALSE(line_style(LineFamily::rivers, 1, 2).draw); /* banks: a pair of lines */
    EXPECT_FALSE(line_style(LineFamily::rivers, 3, 2).draw);
    EXPECT_TRUE(line_style(LineFamily::rivers, 3, 6).draw);
    EXPECT_LT(line_style(LineFamily::rivers, 2, 2).width, line_style(LineFamily::rivers, 2, 6).width);
    EXPECT_LE(line_style(LineFamily::borders, 1, 0).width, 0.6);
    EXPECT_LE(line_style(LineFamily::shore, 1, 0).width, 1.0);
    EXPECT_NEAR(orvextool::zoom_of_pixel(360.0 / 256), 0, 1e-12);
    EXPECT_NEAR(orvextool::zoom_of_pixel(360.0 / 1024), 2, 1e-12);

    /* A dense network of rivers of every class over a continent, seen
     * at zoom 0: under 2 % of the land's pixels change; closer, they show. */
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> lon(-170, 170), lat(-60, 70), turn(-0.6, 0.6);
    std::vector<Ring> rivers;
    for (int k = 0; k < 3000; k++) {
        std::vector<PixelPoint> pts{{lon(rng), lat(rng)}};
        double heading = turn(rng) * 10;
        for (int s = 0; s < 40; s++) {
            heading += turn(rng);
            pts.push_back({pts.back().x + 0.3 * cos(heading), pts.back().y + 0.3 * sin(heading)});
        }
        rivers.push_back(make(1 + k % 3, false, "rivers", pts));
    }
    for (int z = 0; z <= 6; z += 1) {
        View v = orvextool::web_tile_view(z, (1L << z) / 2, (1L << z) / 2 - 1);
        Image im(v.width, v.height, Rgb{120, 170, 90});
        orvexcli::draw_lines(rivers, v, &im);
        long changed = 0;
        for (const Rgb &p : im.pixels) changed += change(p, Rgb{120, 170, 90}) > 10;
        double share = static_cast<double>(changed) / static_cast<double>(v.width * v.height);
        if (z == 0) {
            EXPECT_LE(share, 0.02) << "zoom " << z;
        }
        if (z >= 5) {
            EXPECT_GT(share, 0.02) << "zoom " << z; /* drawn where they help */
        }
    }
}

TEST(DrawLinesStyle, OddInputDrawsNothingAndDoesNotFail)
{
    View v = plate(0, 10, 0, 10, 0.1);
    Image im(v.width, v.height, kPaper);
    /* Single points, a ring of two points, a picture of another size. */
    std::vector<Ring> odd{make(1, false, "rivers", {{5, 5}}), make(1, true, "shore", {{1, 1}, {2, 2}})};
    orvexcli::draw_lines(odd, v, &im);
    LandCover c;
    orvexcli::land_cover(odd, v, &c);
    EXPECT_TRUE(c.any);
    EXPECT_EQ(std::count(c.land.begin(), c.land.end(), 0), v.width * v.height);
    Image small(10, 10, kPaper);
    orvexcli::draw_lines({square(1, 2, 2, 8, 8)}, v, &small);
    for (const Rgb &p : small.pixels) EXPECT_EQ(change(p, kPaper), 0);
    /* A view of no pixels. */
    View none = v;
    none.width = none.height = 0;
    Image empty(0, 0, kPaper);
    orvexcli::draw_lines({square(1, 2, 2, 8, 8)}, none, &empty);
    orvexcli::land_cover({square(1, 2, 2, 8, 8)}, none, &c);
    EXPECT_TRUE(c.land.empty());
}
