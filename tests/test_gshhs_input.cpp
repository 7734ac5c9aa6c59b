// GSHHS shoreline input: both header layouts, the decoded headers, the
// segments and boxes built from them, and the refusal of damaged files.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OrvexInternal.h"
#include "gshhs_files.h"
#include "vector_fixtures.h"

namespace {

// Three accepted polygons (one of level 6), one of level 5 and one without
// points between them.
std::vector<GshhsPolygon> sample_polygons()
{
    std::vector<GshhsPolygon> polys;
    polys.push_back(gshhs_polygon(0, 1, {{-10, -5}, {0, -5}, {0, 5}, {-10, 5}, {-10, -5}}));
    polys.push_back(gshhs_polygon(1, 5, {{50, 50}, {51, 50}, {51, 51}}));
    polys.push_back(gshhs_polygon(2, 2, {}));
    polys.push_back(gshhs_polygon(3, 6, {{20, 30}, {40, 30}, {40, 60}, {20, 30}}));
    polys.push_back(gshhs_polygon(4, 4, {{179.5, 0}, {-179.5, 0}}));
    return polys;
}

struct OpenedGshhs {
    VectorTempDir dir;
    Orvex input;
    std::string path;
    std::string bytes;
    int rc = -1;

    OpenedGshhs(const std::string &file_bytes, const char *name = "shore.gshhs") : bytes(file_bytes)
    {
        path = dir.write(name, bytes);
        rc = input.setInput(path.c_str(), 0, nullptr);
    }
    OrvexResolution &res() { return input.frame.resolutions[0]; }
    OrvexVectorTile &tile() { return static_cast<OrvexVector *>(res().data)->tiles[0]; }
    long offset_of(const OrvexXY *p) const
    {
        return reinterpret_cast<const unsigned char *>(p) - input.file_stream;
    }
};

TEST(GshhsInput, BothLayoutsGiveTheSameSegments)
{
    elog_clear_register(0);
    OpenedGshhs old_file(gshhs_file_bytes(sample_polygons(), GshhsLayout::Old36));
    OpenedGshhs new_file(gshhs_file_bytes(sample_polygons(), GshhsLayout::New44));
    ASSERT_EQ(old_file.rc, 0) << testing::PrintToString(vector_take_messages());
    ASSERT_EQ(new_file.rc, 0) << testing::PrintToString(vector_take_messages());

    for (OpenedGshhs *f : {&old_file, &new_file}) {
        ASSERT_EQ(f->input.frame.nresolutions, 1);
        ASSERT_EQ(f->tile().nsegments, 3);
        const OrvexVectorSegment *s = f->tile().segments;
        EXPECT_EQ(s[0].level, 1);
        EXPECT_EQ(s[1].level, 1);  // stored as level 6
        EXPECT_EQ(s[2].level, 4);
        EXPECT_EQ(s[0].npts, 5);
        EXPECT_EQ(s[1].npts, 4);
        EXPECT_EQ(s[2].npts, 2);
        for (int i = 0; i < 3; i++) EXPECT_EQ(s[i].fill, 1);
        EXPECT_EQ(s[0].lonmin, -10000000);
        EXPECT_EQ(s[0].lonmax, 0);
        EXPECT_EQ(s[0].latmin, -5000000);
        EXPECT_EQ(s[0].latmax, 5000000);
        EXPECT_EQ(s[1].lonmin, 20000000);
        EXPECT_EQ(s[1].latmax, 60000000);
        // Across the meridian the second point counts as 180.5 degrees.
        EXPECT_EQ(s[2].lonmin, 179500000);
        EXPECT_EQ(s[2].lonmax, 180500000);
        EXPECT_EQ(s[2].latmin, 0);
        EXPECT_EQ(s[2].latmax, 0);
    }

    // Each segment addresses the point right after its header, unconverted.
    const long h_old = 36, h_new = 44;
    const long first_old = h_old, first_new = h_new;
    EXPECT_EQ(old_file.offset_of(old_file.tile().segments[0].pts), first_old);
    EXPECT_EQ(new_file.offset_of(new_file.tile().segments[0].pts), first_new);
    long third_old = h_old + 5 * 8 + h_old + 3 * 8 + h_old + h_old;
    long third_new = h_new + 5 * 8 + h_new + 3 * 8 + h_new + h_new;
    EXPECT_EQ(old_file.offset_of(old_file.tile().segments[1].pts), third_old);
    EXPECT_EQ(new_file.offset_of(new_file.tile().segments[1].pts), third_new);
    const unsigned char *raw = reinterpret_cast<const unsigned char *>(old_file.tile().segments[0].pts);
    // -10,000,000 big-endian: FF 67 69 80.
    EXPECT_EQ(raw[0], 0xFF);
    EXPECT_EQ(raw[1], 0x67);
    EXPECT_EQ(raw[2], 0x69);
    EXPECT_EQ(raw[3], 0x80);
}

TEST(GshhsInput, ResolutionAndBoxes)
{
    std::vector<GshhsPolygon> polys;
    polys.push_back(gshhs_polygon(0, 1, {{-10, -5}, {0, 5}}));
    polys.push_back(gshhs_polygon(1, 2, {{20, 30}, {40, 60}}));
    OpenedGshhs f(gshhs_file_bytes(polys, GshhsLayout::New44));
    ASSERT_EQ(f.rc, 0);
    OrvexResolution &res = f.res();
    EXPECT_EQ(std::string(res.source.fname), f.path);
    EXPECT_EQ(res.source.data_type, 4);
    EXPECT_EQ(res.source.map_type, 1);
    EXPECT_DOUBLE_EQ(res.source.lon_start, -10.0);
    EXPECT_DOUBLE_EQ(res.source.dlon, 50.0);
    EXPECT_DOUBLE_EQ(res.source.lat_start, -5.0);
    EXPECT_DOUBLE_EQ(res.source.dlat, 65.0);
    EXPECT_EQ(res.source.nlon, 1);
    EXPECT_EQ(res.source.nlat, 1);
    EXPECT_EQ(res.data_type, 4);
    EXPECT_EQ(res.map_type, 1);
    EXPECT_EQ(res.lon_start_tiles, -180.0);
    EXPECT_EQ(res.dlon_tiles, 360.0);
    EXPECT_EQ(res.lat_start_tiles, 90.0);
    EXPECT_EQ(res.dlat_tiles, -180.0);
    EXPECT_EQ(res.nlon_tiles, 1);
    EXPECT_EQ(res.nlat_tiles, 1);
    EXPECT_EQ(res.ntiles, 1);
    EXPECT_EQ(res.name[0], '\0');
    OrvexVector *v = static_cast<OrvexVector *>(res.data);
    EXPECT_DOUBLE_EQ(v->lonmin, -10.0);
    EXPECT_DOUBLE_EQ(v->lonmax, 40.0);
    EXPECT_DOUBLE_EQ(v->latmin, -5.0);
    EXPECT_DOUBLE_EQ(v->latmax, 60.0);
    // The tile's own box is not maintained by this input.
    EXPECT_EQ(f.tile().lonmin, 0.0);
    EXPECT_EQ(f.tile().lonmax, 0.0);
    EXPECT_EQ(f.tile().latmin, 0.0);
    EXPECT_EQ(f.tile().latmax, 0.0);
    EXPECT_EQ(f.tile().fill, 0);
}

TEST(GshhsInput, MeanSpacing)
{
    // One pair across the meridian one degree apart on the equator.
    std::vector<GshhsPolygon> one = {gshhs_polygon(0, 1, {{179.5, 0}, {-179.5, 0}})};
    OpenedGshhs f(gshhs_file_bytes(one, GshhsLayout::Old36));
    ASSERT_EQ(f.rc, 0);
    EXPECT_NEAR(f.res().degrees_per_pixel, 1.0, 1e-9);

    // Pairs of 1 and 3 degrees average 2; a level-5 polygon adds nothing.
    std::vector<GshhsPolygon> two = {gshhs_polygon(0, 1, {{0, 0}, {1, 0}}),
                                     gshhs_polygon(1, 5, {{0, 0}, {90, 0}}),
                                     gshhs_polygon(2, 1, {{0, 0}, {0, 3}})};
    OpenedGshhs g(gshhs_file_bytes(two, GshhsLayout::New44));
    ASSERT_EQ(g.rc, 0);
    EXPECT_NEAR(g.res().degrees_per_pixel, 2.0, 1e-9);

    // Single points only: no spacing to average, stored as 0 rather than NaN.
    std::vector<GshhsPolygon> lone = {gshhs_polygon(0, 1, {{3, 4}}), gshhs_polygon(1, 2, {{5, 6}})};
    OpenedGshhs h(gshhs_file_bytes(lone, GshhsLayout::New44));
    ASSERT_EQ(h.rc, 0);
    EXPECT_EQ(h.tile().nsegments, 2);
    EXPECT_EQ(h.res().degrees_per_pixel, 0.0);
}

TEST(GshhsInput, UnstuffHeaderDecodesBothLayouts)
{
    std::vector<GshhsPolygon> polys = {gshhs_polygon(77, 6, {{1, 2}, {3, 4}})};
    std::string old_bytes = gshhs_file_bytes(polys, GshhsLayout::Old36);
    std::string new_bytes = gshhs_file_bytes(polys, GshhsLayout::New44);

    GSHHSHdr h;
    unsigned char *p = reinterpret_cast<unsigned char *>(&old_bytes[0]);
    unsigned char *start = p;
    EXPECT_EQ(gshhs_unstuff_hdr(&h, &p), 0);
    EXPECT_EQ(p - start, 36);
    EXPECT_EQ(h.id, 77);
    EXPECT_EQ(h.n, 2);
    EXPECT_EQ(h.level, 1);
    EXPECT_EQ(h.version, 0);
    EXPECT_EQ(h.west, 1000000);
    EXPECT_EQ(h.east, 3000000);
    EXPECT_EQ(h.south, 2000000);
    EXPECT_EQ(h.north, 4000000);
    EXPECT_EQ(h.area, 1234);
    EXPECT_EQ(h.greenwich, 1);
    EXPECT_EQ(h.source, 0);
    EXPECT_EQ(h.area_full, 0);
    EXPECT_EQ(h.container, 0);

    p = reinterpret_cast<unsigned char *>(&new_bytes[0]);
    start = p;
    EXPECT_EQ(gshhs_unstuff_hdr(&h, &p), 0);
    EXPECT_EQ(p - start, 44);
    EXPECT_EQ(h.level, 1);
    EXPECT_EQ(h.version, 7);
    EXPECT_EQ(h.area_full, 5678);
    EXPECT_EQ(h.container, -1);
    EXPECT_EQ(h.ancestor, -1);
    EXPECT_EQ(h.greenwich, 0);
}

// Opens a damaged file; expects the refusal and returns the scan's own
// message after checking the rest of the chain.
std::string refusal(const std::string &bytes)
{
    elog_clear_register(0);
    OpenedGshhs f(bytes);
    EXPECT_EQ(f.rc, -1);
    EXPECT_EQ(f.input.frame.nresolutions, 0);
    EXPECT_EQ(f.input.file_stream, nullptr);
    std::vector<std::string> m = vector_take_messages();
    if (m.size() != 3u) {
        ADD_FAILURE() << testing::PrintToString(m);
        return "";
    }
    EXPECT_EQ(m[1], "Orvex::scanInput: scanGSHHS() error.\n");
    EXPECT_EQ(m[2], "Orvex::setInput: scanInput(" + f.path + ") error.\n");
    // The path differs from one temporary folder to the next.
    std::string first = m[0];
    size_t at = first.find(f.path);
    if (at != std::string::npos) first.replace(at, f.path.size(), "PATH");
    return first;
}

TEST(GshhsInput, DamagedFilesAreRefused)
{
    std::vector<GshhsPolygon> polys = {gshhs_polygon(0, 1, {{1, 1}, {2, 2}, {3, 1}}),
                                       gshhs_polygon(1, 1, {{5, 5}, {6, 6}})};
    std::string whole = gshhs_file_bytes(polys, GshhsLayout::New44);  // 44+24+44+16 = 128

    // The last polygon's points stop 4 bytes short.
    EXPECT_EQ(refusal(whole.substr(0, whole.size() - 4)),
              "Orvex::scanGSHHS: PATH: the 2 points of polygon 1 at offset 112 reach past the end "
              "of the file (124 bytes).\n");
    // The last header stops 4 bytes short: 40 bytes would hold an old
    // header, but this one's version asks for 44.
    EXPECT_EQ(refusal(whole.substr(0, 68 + 40)),
              "Orvex::scanGSHHS: PATH: polygon header at offset 68 reaches past the end of the "
              "file (108 bytes).\n");
    // Trailing bytes too few for even the flag word.
    EXPECT_EQ(refusal(whole + std::string(5, '\0')),
              "Orvex::scanGSHHS: PATH: polygon header at offset 128 reaches past the end of the "
              "file (133 bytes).\n");
    // A skipped level-5 polygon whose points reach past the end.
    std::vector<GshhsPolygon> p5 = {gshhs_polygon(9, 5, {{1, 1}, {2, 2}})};
    std::string b5 = gshhs_file_bytes(p5, GshhsLayout::Old36);
    EXPECT_EQ(refusal(b5.substr(0, b5.size() - 1)),
              "Orvex::scanGSHHS: PATH: the 2 points of polygon 9 at offset 36 reach past the end "
              "of the file (51 bytes).\n");
    // A negative point count.
    std::vector<GshhsPolygon> neg = {gshhs_polygon(0, 1, {{1, 1}}), gshhs_polygon(3, 1, {{2, 2}})};
    neg[1].override_count = true;
    neg[1].count = -2;
    EXPECT_EQ(refusal(gshhs_file_bytes(neg, GshhsLayout::Old36)),
              "Orvex::scanGSHHS: PATH: polygon 3 at offset 44 has a negative point count (-2).\n");
    // The largest count: its points would run far past the end.
    std::vector<GshhsPolygon> huge = {gshhs_polygon(0, 1, {{1, 1}, {2, 2}})};
    huge[0].override_count = true;
    huge[0].count = 0x7FFFFFFF;
    EXPECT_EQ(refusal(gshhs_file_bytes(huge, GshhsLayout::New44)),
              "Orvex::scanGSHHS: PATH: the 2147483647 points of polygon 0 at offset 44 reach past "
              "the end of the file (60 bytes).\n");
}

TEST(GshhsInput, ScanRefusesAPositionOutsideTheMapping)
{
    Orvex unopened;
    unsigned char buf[64] = {0};
    unsigned char *stream = buf, *data = nullptr;
    int level = 0, npts = 0, a = 0, b = 0, c = 0, d = 0;
    long nave = 0;
    double dave = 0;
    elog_clear_register(0);
    EXPECT_EQ(unopened.scanGSHHS(&stream, &data, &level, &npts, &nave, &dave, &a, &b, &c, &d), -1);
    EXPECT_EQ(level, -1);
    EXPECT_EQ(npts, 0);
    EXPECT_EQ(stream, buf);
    std::vector<std::string> m = vector_take_messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0], "Orvex::scanGSHHS: (unnamed): position is not inside the mapped file.\n");
}

TEST(GshhsInput, AllocationFailuresAreReportedAndLeakNothing)
{
    std::vector<GshhsPolygon> polys = {gshhs_polygon(0, 1, {{1, 1}, {2, 2}}),
                                       gshhs_polygon(1, 1, {{5, 5}, {6, 6}})};
    std::string bytes = gshhs_file_bytes(polys, GshhsLayout::Old36);
    const char *expected[] = {"Orvex::scanInput: malloc(resolutions) error.\n",
                              "Orvex::scanInput: malloc(vector) error.\n",
                              "Orvex::scanInput: malloc(tile) error.\n",
                              "Orvex::scanInput: malloc(segments) error.\n"};
    for (int n = 0; n < 4; n++) {
        SCOPED_TRACE(n);
        elog_clear_register(0);
        VectorFaults faults(VectorFaults::Malloc, n);
        OpenedGshhs f(bytes);
        EXPECT_EQ(f.rc, -1);
        std::vector<std::string> m = vector_take_messages();
        ASSERT_EQ(m.size(), 2u);
        std::string want = expected[n];
        want.pop_back();
        EXPECT_EQ(m[0], want + ": Cannot allocate memory\n");
        EXPECT_EQ(m[1], "Orvex::setInput: scanInput(" + f.path + ") error.\n");
    }
    {
        elog_clear_register(0);
        VectorFaults faults(VectorFaults::Realloc, 0);
        OpenedGshhs f(bytes);
        EXPECT_EQ(f.rc, -1);
        std::vector<std::string> m = vector_take_messages();
        ASSERT_EQ(m.size(), 2u);
        EXPECT_EQ(m[0], "Orvex::scanInput: realloc(segments) error.: Cannot allocate memory\n");
    }
}

}  // namespace
