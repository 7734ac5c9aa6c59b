// The integer map, the segment meeting test, bad-point detection with its
// diagnostic lines, and the purge.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "VectorGeometry.h"
#include "vector_fixtures.h"

namespace {

typedef std::vector<std::pair<int, int>> Ring;

std::vector<OrvexXY> host_points(const Ring &ring)
{
    std::vector<OrvexXY> pts(ring.size());
    for (size_t i = 0; i < ring.size(); i++) {
        pts[i].lon_microdegrees = ring[i].first;
        pts[i].lat_microdegrees = ring[i].second;
    }
    return pts;
}

std::vector<OrvexXY> big_endian_points(const Ring &ring)
{
    std::vector<OrvexXY> pts = host_points(ring);
    for (OrvexXY &p : pts) {
        p.lon_microdegrees = static_cast<int>(htonl(static_cast<uint32_t>(p.lon_microdegrees)));
        p.lat_microdegrees = static_cast<int>(htonl(static_cast<uint32_t>(p.lat_microdegrees)));
    }
    return pts;
}

struct Detection {
    std::set<int> bad;
    std::string out;
};

Detection detect(const std::vector<OrvexXY> &pts, int data_type = 0)
{
    Array<int, int> bad;
    bad.set(12345, 1);  // detection starts from an empty map
    testing::internal::CaptureStdout();
    orvex_findVectorDataBadPoints(pts.data(), data_type, static_cast<int>(pts.size()), bad);
    Detection d;
    d.out = testing::internal::GetCapturedStdout();
    for (const auto &e : bad) {
        EXPECT_EQ(e.second, 1);
        d.bad.insert(e.first);
    }
    return d;
}

OrvexPoint P(long x, long y) { return OrvexPoint{x, y}; }

// A line along the equator, 10 microdegrees a step, with nothing to find.
Ring straight(int n)
{
    Ring r;
    for (int i = 0; i < n; i++) r.emplace_back(i * 10, 0);
    return r;
}

TEST(VectorArray, SetContainsAndNull)
{
    Array<int, int> a;
    EXPECT_EQ(a.null, 0);
    EXPECT_EQ(a.freeElementV, nullptr);
    EXPECT_EQ(a.freeElementK, nullptr);
    EXPECT_EQ(a.set(7, 1), 0);
    EXPECT_EQ(a.set(7, 5), 1);  // the value it replaced
    EXPECT_TRUE(a.contains(7));
    EXPECT_FALSE(a.contains(8));
    a.null = -1;
    EXPECT_EQ(a.set(8, 2), -1);
    EXPECT_EQ(a.size(), 2u);
    a.clear();
    EXPECT_EQ(a.size(), 0u);
    EXPECT_FALSE(a.contains(7));
}

int released;
void count_release(void *p)
{
    released++;
    free(p);
}

TEST(VectorArray, HooksReleasePointerValuesOnly)
{
    released = 0;
    {
        Array<int, void *> a;
        a.freeElementV = count_release;
        a.set(1, malloc(4));
        a.set(2, malloc(4));
    }
    EXPECT_EQ(released, 2);
    {
        Array<int, int> b;  // hooks set on a map of numbers are never called
        b.freeElementV = count_release;
        b.freeElementK = count_release;
        b.set(1, 1);
    }
    EXPECT_EQ(released, 2);
}

TEST(VectorGeometry, GetPointReadsBothEncodings)
{
    std::vector<OrvexXY> be = big_endian_points({{-179500000, 45000000}});
    OrvexPoint p{};
    orvex_getPoint(p, 4, &be[0]);
    EXPECT_EQ(p.x, -179500000);
    EXPECT_EQ(p.y, 45000000);
    std::vector<OrvexXY> host = host_points({{-1, 2}});
    orvex_getPoint(p, 0, &host[0]);
    EXPECT_EQ(p.x, -1);  // sign-extended
    EXPECT_EQ(p.y, 2);
    orvex_getPoint(p, 5, &host[0]);
    EXPECT_EQ(p.x, -1);
}

TEST(VectorGeometry, OrientationAndMeeting)
{
    EXPECT_EQ(orvex_orientation(P(0, 0), P(1, 1), P(2, 2)), 0);
    EXPECT_EQ(orvex_orientation(P(0, 0), P(0, 1), P(1, 1)), 1);  // turning east: clockwise
    EXPECT_EQ(orvex_orientation(P(0, 0), P(1, 0), P(1, 1)), 2);
    // Far outside the globe the products stay exact.
    EXPECT_EQ(orvex_orientation(P(-2147483648L, -2147483648L), P(2147483647L, 2147483647L),
                                P(2147483647L, -2147483648L)),
              1);

    EXPECT_TRUE(orvex_onSegment(P(0, 0), P(0, 0), P(2, 2)));
    EXPECT_TRUE(orvex_onSegment(P(2, 2), P(1, 1), P(0, 0)));
    EXPECT_FALSE(orvex_onSegment(P(0, 0), P(3, 1), P(2, 2)));

    EXPECT_TRUE(orvex_doIntersect(P(0, 0), P(10, 10), P(0, 10), P(10, 0)));   // crossing
    EXPECT_TRUE(orvex_doIntersect(P(0, 0), P(10, 0), P(5, 5), P(5, 0)));      // touching
    EXPECT_TRUE(orvex_doIntersect(P(0, 0), P(10, 0), P(10, 0), P(20, 5)));    // shared end
    EXPECT_TRUE(orvex_doIntersect(P(0, 0), P(10, 0), P(5, 0), P(15, 0)));     // overlap
    EXPECT_FALSE(orvex_doIntersect(P(0, 0), P(1, 0), P(2, 0), P(3, 0)));      // same line, apart
    EXPECT_FALSE(orvex_doIntersect(P(0, 0), P(10, 0), P(0, 1), P(10, 1)));    // parallel
    EXPECT_FALSE(orvex_doIntersect(P(0, 0), P(10, 10), P(6, 0), P(10, 3)));   // boxes overlap only
}

TEST(VectorDetection, EqualPointsAtZeroFiveAndNine)
{
    Ring r = straight(12);
    r[5] = r[0];
    r[9] = r[0];
    Detection d = detect(host_points(r));
    EXPECT_EQ(d.bad, (std::set<int>{5, 9}));
    EXPECT_EQ(d.out,
              "Equal points near 0.000000 0.000000 between 0=0,0 and 5=0,0 npoints 12\n"
              "Equal points near 0.000000 0.000000 between 0=0,0 and 9=0,0 npoints 12\n");
}

TEST(VectorDetection, EqualPointLineFormat)
{
    Ring r = straight(8);
    r[2] = {-179500000, 45250000};
    r[4] = r[2];
    Detection d = detect(big_endian_points(r), 4);
    EXPECT_EQ(d.bad, (std::set<int>{4}));
    EXPECT_EQ(d.out,
              "Equal points near -179.500000 45.250000 between 2=-179500000,45250000 and "
              "4=-179500000,45250000 npoints 8\n");
}

TEST(VectorDetection, CrossingLineFormat)
{
    Ring r = {{0, 0}, {10, 10}, {0, 10}, {10, 0}, {20, 20}, {30, 30}};
    Detection d = detect(host_points(r));
    EXPECT_EQ(d.bad, (std::set<int>{2}));
    EXPECT_EQ(d.out,
              "Crossing near 0.000000 0.000000 between 0=0,0 1=10,10 and 2=0,10 3=10,0 "
              "npoints 6\n");
}

TEST(VectorDetection, CrossingAtAnchorTenPrintsOffsets)
{
    Ring r = straight(16);
    r[10] = {100, 0};
    r[11] = {110, 10};
    r[12] = {100, 10};
    r[13] = {110, 0};
    r[14] = {120, 0};
    r[15] = {130, 0};
    Detection d = detect(host_points(r));
    EXPECT_EQ(d.bad, (std::set<int>{12}));
    EXPECT_EQ(d.out,
              "Crossing near 0.000100 0.000000 between 10=0,0 11=10,10 and 12=0,10 13=10,0 "
              "npoints 16\n");
}

TEST(VectorDetection, TouchingAndCollinearEdges)
{
    // An endpoint of edge 2-3 lies on the anchor edge 0-1.
    Detection touch = detect(host_points({{0, 0}, {10, 0}, {5, 5}, {5, 0}, {50, 50}, {60, 60}}));
    EXPECT_EQ(touch.bad, (std::set<int>{2}));
    // Edge 2-3 overlaps the anchor edge on the same line.
    Detection overlap = detect(host_points({{0, 0}, {10, 0}, {5, 0}, {15, 0}, {50, 50}, {60, 60}}));
    EXPECT_EQ(overlap.bad, (std::set<int>{2}));
    // On one line but apart: nothing.
    Detection apart = detect(host_points({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}}));
    EXPECT_TRUE(apart.bad.empty());
    EXPECT_EQ(apart.out, "");
}

TEST(VectorDetection, ShortRings)
{
    // Three points: nothing is ever compared.
    EXPECT_TRUE(detect(host_points({{0, 0}, {0, 0}, {0, 0}})).bad.empty());
    // Four and five: only repeated points, among the first npts - 2.
    EXPECT_EQ(detect(host_points({{0, 0}, {0, 0}, {0, 0}, {0, 0}})).bad, (std::set<int>{1}));
    EXPECT_EQ(detect(host_points({{0, 0}, {10, 10}, {0, 10}, {10, 0}, {0, 0}})).bad,
              (std::set<int>{}));
    // Six: the smallest ring in which a crossing is found; the closing point
    // repeating the first is kept.
    Detection six = detect(host_points({{0, 0}, {10, 10}, {0, 10}, {10, 0}, {5, -5}, {0, 0}}));
    EXPECT_EQ(six.bad, (std::set<int>{2}));
}

TEST(VectorDetection, LastTwoPointsAreNeverMarked)
{
    Ring r = straight(10);
    r[8] = r[0];
    r[9] = r[1];
    EXPECT_TRUE(detect(host_points(r)).bad.empty());
}

// Laps around a circle of `per_lap` points: point i + per_lap repeats point
// i, and no two edges of one lap meet.
Ring laps(int per_lap, int n)
{
    Ring r;
    for (int i = 0; i < n; i++) {
        double a = 2 * M_PI * (i % per_lap) / per_lap;
        r.emplace_back(static_cast<int>(lround(1e6 * cos(a))), static_cast<int>(lround(1e6 * sin(a))));
    }
    return r;
}

TEST(VectorDetection, WindowOfOneHundredIndexes)
{
    Detection near = detect(host_points(laps(99, 110)));  // 99 ahead: inside the window
    EXPECT_TRUE(near.bad.count(99));
    EXPECT_NE(near.out.find("Equal points near 1.000000 0.000000 between 0=1000000,0 and "
                            "99=1000000,0 npoints 110\n"),
              std::string::npos);
    Detection far = detect(host_points(laps(100, 110)));  // 100 ahead: outside it
    EXPECT_TRUE(far.bad.empty());
    EXPECT_EQ(far.out, "");
}

// A segment the purge may rewrite, with an object that adopts the copy.
struct PurgeCase {
    std::vector<OrvexXY> pts;
    OrvexVectorSegment seg;
    Orvex owner;
    std::string out;
    int rc = 0;

    explicit PurgeCase(std::vector<OrvexXY> points) : pts(std::move(points))
    {
        seg.level = 3;
        seg.fill = 1;
        seg.lonmin = 11;
        seg.npts = static_cast<long>(pts.size());
        seg.pts = pts.data();
    }
    int run(int data_type)
    {
        testing::internal::CaptureStdout();
        rc = orvex_purgeVectorDataBadPoints(&seg, data_type, &owner);
        out = testing::internal::GetCapturedStdout();
        return rc;
    }
};

TEST(VectorPurge, RemovesMarkedPointsKeepingTheStoredEncoding)
{
    Ring r = straight(12);
    r[0] = {-179900000, 1000};
    r[5] = r[0];
    r[9] = r[0];
    PurgeCase c(big_endian_points(r));
    ASSERT_EQ(c.run(4), 0);
    EXPECT_EQ(c.seg.npts, 10);
    ASSERT_NE(c.seg.pts, c.pts.data());
    // Kept points are the stored bytes of indexes 0-4, 6-8, 10, 11.
    std::vector<int> kept = {0, 1, 2, 3, 4, 6, 7, 8, 10, 11};
    for (size_t i = 0; i < kept.size(); i++) {
        EXPECT_EQ(memcmp(&c.seg.pts[i], &c.pts[kept[i]], 8), 0) << i;
    }
    EXPECT_EQ(c.seg.level, 3);
    EXPECT_EQ(c.seg.lonmin, 11);
    EXPECT_EQ(c.out.find("Equal points near -179.900000 0.001000 between 0=-179900000,1000 and "
                         "5=-179900000,1000 npoints 12\n"),
              0u);
}

TEST(VectorPurge, CleanSegmentKeepsItsArray)
{
    PurgeCase c(host_points(straight(20)));
    ASSERT_EQ(c.run(0), 0);
    EXPECT_EQ(c.seg.pts, c.pts.data());
    EXPECT_EQ(c.seg.npts, 20);
    EXPECT_EQ(c.out, "");

    PurgeCase empty(std::vector<OrvexXY>{});
    EXPECT_EQ(empty.run(0), 0);
    EXPECT_EQ(empty.seg.npts, 0);
}

TEST(VectorPurge, RingAcrossTheMeridianIsTestedUnwrapped)
{
    // 179.9 -> -179.9 is a short step east. Taken as stored, edge 0-1 would
    // span the globe and meet the edge 3-4 at longitude 0 (360 unwrapped).
    Ring r = {{179900000, 0},  {-179900000, 0}, {-179900000, 5000000}, {0, 5000000},
              {0, -5000000},   {10000000, -5000000}, {20000000, -5000000}};
    std::vector<OrvexXY> pts = host_points(r);
    EXPECT_EQ(detect(pts).bad, (std::set<int>{3}));
    PurgeCase c(pts);
    ASSERT_EQ(c.run(0), 0);
    EXPECT_EQ(c.seg.pts, c.pts.data());
    EXPECT_EQ(c.seg.npts, 7);
    EXPECT_EQ(c.out, "");
}

TEST(VectorPurge, AllocationFailuresLeaveTheSegmentUnchanged)
{
    Ring r = straight(12);
    r[5] = r[0];
    {
        elog_clear_register(0);
        PurgeCase c(host_points(r));
        VectorFaults faults(VectorFaults::Malloc, 0);
        EXPECT_EQ(c.run(0), -1);
        EXPECT_EQ(c.seg.pts, c.pts.data());
        EXPECT_EQ(c.seg.npts, 12);
        std::vector<std::string> m = vector_take_messages();
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0],
                  "orvex_purgeVectorDataBadPoints: malloc(OrvexXY) error.: Cannot allocate memory\n");
    }
    {
        // Without memory for the marks detection still finds the same points.
        PurgeCase c(host_points(r));
        VectorFaults faults(VectorFaults::Malloc, 1);
        EXPECT_EQ(c.run(0), 0);
        EXPECT_EQ(c.seg.npts, 11);
    }
    {
        // The owner cannot take the copy: it is released, the segment kept.
        elog_clear_register(0);
        PurgeCase c(host_points(r));
        VectorFaults faults(VectorFaults::Realloc, 0);
        EXPECT_EQ(c.run(0), -1);
        EXPECT_EQ(c.seg.pts, c.pts.data());
        EXPECT_EQ(c.seg.npts, 12);
        std::vector<std::string> m = vector_take_messages();
        ASSERT_EQ(m.size(), 2u);
        EXPECT_EQ(m[0], "Orvex::adoptPoints: realloc(points) error.: Cannot allocate memory\n");
        EXPECT_EQ(m[1], "orvex_purgeVectorDataBadPoints: Orvex::adoptPoints() error.\n");
    }
}

TEST(VectorPurge, RepeatedPurgesAreReleasedWithTheOwner)
{
    // Every copy is adopted; the leak checker of the sanitizer build proves
    // that the owner's teardown releases them all.
    Ring r = straight(40);
    r[5] = r[0];
    r[30] = r[20];
    PurgeCase c(host_points(r));
    ASSERT_EQ(c.run(0), 0);
    EXPECT_EQ(c.seg.npts, 38);
    for (int i = 0; i < 3; i++) {
        // Make the copy dirty again and purge the purged array.
        c.seg.pts[3] = c.seg.pts[1];
        ASSERT_EQ(c.run(0), 0);
    }
    EXPECT_EQ(c.seg.npts, 35);
}

}  // namespace
