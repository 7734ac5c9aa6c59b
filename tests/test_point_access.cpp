// A display program reads a segment's points through orvex_get_point and
// orvex_get_points. A map file packs the point arrays right after the grid
// tiles before them, so they start at any byte: these maps put them at every
// offset modulo 8, and every point read must be the one written. Under
// UndefinedBehaviorSanitizer (the suite's second build) a misaligned load in
// the readers would stop the test.

#include <gtest/gtest.h>
#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "OrvexInternal.h"
#include "grid_terrain.h"
#include "gshhs_files.h"
#include "vector_fixtures.h"

namespace {

const std::vector<std::pair<double, double>> kRing = {{1, 2}, {3, 4.5}, {5, 2}, {2.25, -1}, {1, 2}};

// Builds a map of a raw colour grid resolution of 9 rows of `cols` samples
// (27 x cols payload bytes, so the vector payloads after it shift by 3 bytes
// modulo 8 a column) and one vector resolution of the ring.
std::string build(VectorTempDir &dir, long cols)
{
    std::string tag = std::to_string(cols);
    std::string rgb = dir.path("c" + tag + ".rgb");
    grid_write_rgb(rgb, grid_colours(9, cols, 7), 9, cols, 10, -1, 0, 1);
    std::string shore = dir.write("s" + tag + ".gshhs", gshhs_file_bytes({gshhs_polygon(0, 1, kRing)},
                                                                         GshhsLayout::New44));
    std::string out_path = dir.path("m" + tag + ".orx");
    Orvex colour, lines, out;
    EXPECT_EQ(colour.setInput(rgb.c_str(), 0, nullptr), 0);
    EXPECT_EQ(lines.setInput(shore.c_str(), 0, nullptr), 0);
    EXPECT_EQ(out.setOutput(out_path.c_str()), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(out.setResolutionHdrGrid(&colour, 0, 0, 1, 0, 1, 1, "colour", "raw"), 0);
    EXPECT_EQ(out.setResolutionHdrVector(&lines, 0, 0, 1, 1, -1, 1, 0, "coast", "full"), 0);
    EXPECT_EQ(out.writeData(OrvexWriteOptions()), 0);
    testing::internal::GetCapturedStdout();
    return out_path;
}

TEST(PointAccess, ReadsPointsAtEveryAlignment)
{
    VectorTempDir dir;
    std::set<long> offsets_seen;
    for (long cols = 1; cols <= 8; cols++) {
        std::string path = build(dir, cols);
        Orvex map;
        ASSERT_EQ(map.setInput(path.c_str(), 0, nullptr), 0) << path;
        ASSERT_EQ(map.frame.nresolutions, 2);
        const OrvexVectorTile &tile = static_cast<OrvexVector *>(map.frame.resolutions[1].data)->tiles[0];
        ASSERT_EQ(tile.nsegments, 1);
        const OrvexVectorSegment &seg = tile.segments[0];
        ASSERT_EQ(seg.npts, static_cast<long>(kRing.size()));
        offsets_seen.insert((reinterpret_cast<const unsigned char *>(seg.pts) - map.file_stream) % 8);

        std::vector<OrvexXY> run(kRing.size());
        orvex_get_points(&seg, 0, seg.npts, run.data());
        OrvexXY tail[2];
        orvex_get_points(&seg, 3, 2, tail);
        for (long i = 0; i < seg.npts; i++) {
            OrvexXY p;
            orvex_get_point(&seg, i, &p);
            EXPECT_EQ(p.lon_microdegrees, static_cast<int>(kRing[i].first * 1e6)) << cols << " " << i;
            EXPECT_EQ(p.lat_microdegrees, static_cast<int>(kRing[i].second * 1e6)) << cols << " " << i;
            EXPECT_EQ(run[i].lon_microdegrees, p.lon_microdegrees);
            EXPECT_EQ(run[i].lat_microdegrees, p.lat_microdegrees);
            if (i >= 3) {
                EXPECT_EQ(tail[i - 3].lat_microdegrees, p.lat_microdegrees);
            }
        }
    }
    // 27 bytes a column reach every residue modulo 8.
    EXPECT_EQ(offsets_seen.size(), 8u);
}

}  // namespace
