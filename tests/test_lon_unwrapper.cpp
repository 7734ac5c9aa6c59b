// The one longitude unwrapping rule: one point at a time, and in place over
// runs of points split anywhere.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "OrvexInternal.h"

namespace {

TEST(LonUnwrapper, CrossingTheMeridianKeepsLongitudesContinuous)
{
    OrvexLonUnwrapper u;
    EXPECT_EQ(u.next(179900000), 179900000);
    EXPECT_EQ(u.next(-179900000), 180100000);
    EXPECT_EQ(u.next(-179000000), 181000000);
    EXPECT_EQ(u.next(179000000), 179000000);
    OrvexLonUnwrapper v;
    v.next(0);
    EXPECT_EQ(v.next(180000000), 180000000);  // a jump of exactly half a turn stays
    EXPECT_EQ(v.next(-179999999), 180000001);
}

TEST(LonUnwrapper, InPlaceRunsGiveWhatSinglePointsGive)
{
    std::mt19937 rng(7);
    std::vector<OrvexXY> pts(5000);
    long lon = 170000000;
    for (OrvexXY &p : pts) {
        lon += static_cast<long>(rng() % 4000001) - 2000000;
        if (rng() % 50 == 0) lon += (rng() % 2 ? 1 : -1) * 360000000L;  // a stored wrap
        long wrapped = ((lon + 180000000L) % 360000000L + 360000000L) % 360000000L - 180000000L;
        p.lon_microdegrees = static_cast<int>(wrapped);
    }
    OrvexLonUnwrapper one;
    std::vector<long> expected;
    for (const OrvexXY &p : pts) expected.push_back(one.next(p.lon_microdegrees));

    OrvexLonUnwrapper runs;
    std::vector<OrvexXY> copy = pts;
    for (size_t at = 0; at < copy.size();) {
        size_t n = std::min<size_t>(1 + rng() % 700, copy.size() - at);
        ASSERT_TRUE(runs.unwrapInPlace(&copy[at], static_cast<long>(n)));
        at += n;
    }
    for (size_t i = 0; i < pts.size(); i++) ASSERT_EQ(copy[i].lon_microdegrees, expected[i]) << i;
}

TEST(LonUnwrapper, InPlaceRefusesLongitudesBeyondThirtyTwoBits)
{
    // Every step turns the same way: the running offset grows past 2^31.
    std::vector<OrvexXY> pts(40);
    for (size_t i = 0; i < pts.size(); i++)
        pts[i].lon_microdegrees = static_cast<int>((static_cast<long>(i) * 170000000L) % 360000000L - 180000000L);
    OrvexLonUnwrapper u;
    EXPECT_FALSE(u.unwrapInPlace(pts.data(), static_cast<long>(pts.size())));
}

}  // namespace
