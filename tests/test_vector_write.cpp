// Writing many segments at once: every record points at its own points
// however the writer groups its writes, and rings the writer cannot store
// are refused.

#include <gtest/gtest.h>
#include <math.h>

#include <string>
#include <vector>

#include "OrvexInternal.h"
#include "vector_build.h"
#include "vector_fixtures.h"
#include "vector_inputs.h"

namespace {

// Many segments of varied sizes (empty ones, and one larger than the
// writer's buffer) and rings that wrap: every record must point at its own
// points, in order, and the file must not depend on the writer's buffer.
// Longitudes stored in -180..180 degrees for a ring wobbling across the
// meridian around `centre` microdegrees (unwrapped).
int stored_lon(long unwrapped)
{
    return static_cast<int>(unwrapped >= 180000000 ? unwrapped - 360000000 : unwrapped);
}

std::vector<VectorRing> many_rings()
{
    std::vector<VectorRing> rings;
    for (int s = 0; s < 1500; s++) {
        VectorRing r;
        int n = s % 7 == 0 ? 0 : s % 50;
        for (int i = 0; i < n; i++) r.emplace_back(stored_lon(179500000L + (i % 4) * 400000 + s), s);
        rings.push_back(r);
    }
    VectorRing big;
    for (int i = 0; i < 200000; i++)
        big.emplace_back(stored_lon(179000000L + lround(2e6 * sin(i / 1000.0))), -i);
    rings.insert(rings.begin() + 700, big);
    return rings;
}

std::string build_many(VectorTempDir &dir, const char *name, Orvex &in, long fail_malloc_at)
{
    Orvex out;
    std::string path = dir.path(name);
    EXPECT_EQ(out.setOutput(path.c_str()), 0);
    EXPECT_EQ(out.setResolutionHdrVector(&in, 0, 0, 1, 1, -1, 0, 0, "m", "m"), 0);
    testing::internal::CaptureStdout();
    {
        VectorFaults faults(VectorFaults::Malloc, fail_malloc_at);
        EXPECT_EQ(out.writeDataVector(), 0);
    }
    testing::internal::GetCapturedStdout();
    return path;
}

TEST(VectorBuild, ManySegmentsReadBackExactly)
{
    VectorTempDir dir;
    Orvex in;
    std::vector<VectorRing> rings = many_rings();
    vector_memory_input(in, {0, 0, 0, 0}, rings);
    std::string large = build_many(dir, "large.orx", in, -1);
    std::string small = build_many(dir, "small.orx", in, 0);  // no memory for the large buffer
    EXPECT_EQ(vector_read_file(large), vector_read_file(small));

    Orvex reader;
    const OrvexVectorTile &t = vector_read_back(reader, large);
    ASSERT_EQ(t.nsegments, static_cast<long>(rings.size()));
    long expected_offset = 944 + 40 * static_cast<long>(rings.size());
    for (size_t s = 0; s < rings.size(); s++) {
        const OrvexVectorSegment &seg = t.segments[s];
        ASSERT_EQ(seg.npts, static_cast<long>(rings[s].size())) << s;
        ASSERT_EQ(reinterpret_cast<const unsigned char *>(seg.pts) - reader.file_stream, expected_offset)
            << s;
        expected_offset += 8 * seg.npts;
        OrvexLonUnwrapper unwrap;
        for (long i = 0; i < seg.npts; i++) {
            int v[2];
            memcpy(v, reinterpret_cast<const unsigned char *>(seg.pts) + 8 * i, 8);
            ASSERT_EQ(v[0], unwrap.next(rings[s][static_cast<size_t>(i)].first)) << s << " " << i;
            ASSERT_EQ(v[1], rings[s][static_cast<size_t>(i)].second);
        }
    }
    EXPECT_EQ(expected_offset, reader.file_size);
}

}  // namespace

namespace {

TEST(VectorBuild, RingWindingPastThirtyTwoBitsIsRefused)
{
    // Eastward steps of 170 degrees: after 13 of them the unwrapped
    // longitude no longer fits 32 bits.
    VectorRing spiral;
    long lon = 0;
    for (int i = 0; i < 20; i++, lon += 170000000) spiral.emplace_back(stored_lon(((lon + 180000000) % 360000000) - 180000000), i);
    VectorBuildCase b;
    Orvex in;
    vector_memory_input(in, {0, 1, 0, 1}, {spiral});
    ASSERT_EQ(b.openOutput(), 0);
    elog_clear_register(0);
    ASSERT_EQ(b.declare(1, 1, -1, 1, 0, "s", "s", &in), 0);  // its purge is refused, the rest goes on
    EXPECT_EQ(vector_take_messages(),
              std::vector<std::string>{"orvex_purgeVectorDataBadPoints: segment winds around the "
                                       "globe too often for 32-bit longitudes.\n"});
    EXPECT_EQ(b.writeAll(), -1);
    std::vector<std::string> m = vector_take_messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0],
              "Orvex::writeTileDataVector: segment winds around the globe too often for 32-bit "
              "longitudes\n");
}

}  // namespace
