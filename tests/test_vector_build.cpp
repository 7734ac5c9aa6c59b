// Building vector map files: the declared headers byte for byte, the points
// written after them, reading the result back, and every refusal and
// failure on the way.

#include <gtest/gtest.h>
#include <math.h>

#include <string>
#include <vector>

#include "OrvexInternal.h"
#include "gshhs_files.h"
#include "vector_fixtures.h"
#include "vector_inputs.h"
#include "vector_build.h"

namespace {

const size_t kRes = 16;  // the first resolution record


std::vector<GshhsPolygon> two_polygons()
{
    return {gshhs_polygon(0, 1, {{1, 1}, {2, 1}, {2, 2}}), gshhs_polygon(1, 2, {{-3, -4}, {-5, -6}})};
}

// Point i of the segment record at `record`, read from the file.
std::pair<int, int> file_point(const std::string &b, size_t record, int i)
{
    size_t at = static_cast<size_t>(vector_field<long>(b, record + 32)) + static_cast<size_t>(i) * 8;
    return {vector_field<int>(b, at), vector_field<int>(b, at + 4)};
}

TEST(VectorBuild, OneTileOfTwoSegmentsByteForByte)
{
    VectorBuildCase b;
    ASSERT_EQ(b.openGshhs(two_polygons()), 0);
    ASSERT_EQ(b.openOutput(), 0);
    ASSERT_EQ(b.declare(1, 1), 0);
    std::string h = b.bytes();
    ASSERT_EQ(h.size(), 1024u);
    EXPECT_EQ(vector_field<long>(h, 8), 1);
    // Resolution record.
    EXPECT_EQ(std::string(h.data() + kRes), b.in_path);
    EXPECT_EQ(vector_field<long>(h, kRes + 512), 4);
    EXPECT_EQ(vector_field<long>(h, kRes + 520), 1);
    EXPECT_EQ(vector_field<double>(h, kRes + 528), -5.0);
    EXPECT_EQ(vector_field<double>(h, kRes + 536), 7.0);
    EXPECT_EQ(vector_field<long>(h, kRes + 576), 0);
    EXPECT_EQ(vector_field<long>(h, kRes + 584), 1);
    EXPECT_EQ(std::string(h.data() + kRes + 592), "coast");
    EXPECT_EQ(std::string(h.data() + kRes + 720), "full");
    EXPECT_DOUBLE_EQ(vector_field<double>(h, kRes + 784),
                     b.input.frame.resolutions[0].degrees_per_pixel);
    EXPECT_EQ(vector_field<double>(h, kRes + 792), -180.0);
    EXPECT_EQ(vector_field<double>(h, kRes + 800), 90.0);
    EXPECT_EQ(vector_field<double>(h, kRes + 808), 360.0);
    EXPECT_EQ(vector_field<double>(h, kRes + 816), -180.0);
    EXPECT_EQ(vector_field<long>(h, kRes + 824), 1);
    EXPECT_EQ(vector_field<long>(h, kRes + 832), 1);
    EXPECT_EQ(vector_field<long>(h, kRes + 840), 1);
    // Vector header at 864, tile record at 896.
    EXPECT_EQ(vector_field<double>(h, 864), -180.0);
    EXPECT_EQ(vector_field<double>(h, 872), 180.0);
    EXPECT_EQ(vector_field<double>(h, 880), -90.0);
    EXPECT_EQ(vector_field<double>(h, 888), 90.0);
    EXPECT_EQ(vector_field<double>(h, 896), 0.0);
    EXPECT_EQ(vector_field<long>(h, 928), 0);  // fill
    EXPECT_EQ(vector_field<long>(h, 936), 2);  // nsegments
    EXPECT_EQ(b.output.tiles_offset, 896);
    // Segment records at 944 and 984, their pts still placeholders.
    EXPECT_EQ(vector_field<int>(h, 944), 1);
    EXPECT_EQ(vector_field<int>(h, 948), 0);
    EXPECT_EQ(vector_field<int>(h, 952), 1000000);
    EXPECT_EQ(vector_field<int>(h, 956), 2000000);
    EXPECT_EQ(vector_field<long>(h, 968), 3);
    EXPECT_EQ(vector_field<long>(h, 976), 0);
    EXPECT_EQ(vector_field<int>(h, 984), 2);
    EXPECT_EQ(vector_field<long>(h, 1008), 2);
    const OrvexVectorTile &t = static_cast<OrvexVector *>(b.output.frame.resolutions[0].data)->tiles[0];
    EXPECT_EQ(reinterpret_cast<long>(t.segments[0].pts), 976);
    EXPECT_EQ(reinterpret_cast<long>(t.segments[1].pts), 1016);

    ASSERT_EQ(b.writeAll(), 0);
    EXPECT_EQ(b.out, "Orvex::writeTileDataVector: Processing resolution=full\n");
    std::string f = b.bytes();
    ASSERT_EQ(f.size(), 1024u + 5 * 8);
    EXPECT_EQ(vector_field<long>(f, 976), 1024);
    EXPECT_EQ(vector_field<long>(f, 1016), 1048);
    EXPECT_EQ(file_point(f, 944, 2), std::make_pair(2000000, 2000000));
    EXPECT_EQ(file_point(f, 984, 1), std::make_pair(-5000000, -6000000));
    EXPECT_EQ(f.substr(0, 976), h.substr(0, 976));
    EXPECT_EQ(orvex_tell(b.output.fd), 1064);
}

TEST(VectorBuild, TwoByThreeTiles)
{
    VectorBuildCase b;
    ASSERT_EQ(b.openGshhs(two_polygons()), 0);
    ASSERT_EQ(b.openOutput(), 0);
    ASSERT_EQ(b.declare(2, 3), 0);
    std::string h = b.bytes();
    const size_t tile_bytes = 48 + 2 * 40;
    ASSERT_EQ(h.size(), 896 + 6 * tile_bytes);
    EXPECT_EQ(vector_field<double>(h, kRes + 792), -180.0);
    EXPECT_EQ(vector_field<double>(h, kRes + 800), 90.0);
    EXPECT_EQ(vector_field<double>(h, kRes + 808), 120.0);
    EXPECT_EQ(vector_field<double>(h, kRes + 816), -90.0);
    EXPECT_EQ(vector_field<long>(h, kRes + 824), 3);
    EXPECT_EQ(vector_field<long>(h, kRes + 832), 2);
    EXPECT_EQ(vector_field<long>(h, kRes + 840), 6);
    for (size_t t = 0; t < 6; t++) {
        size_t at = 896 + t * tile_bytes;
        EXPECT_EQ(h.substr(at, tile_bytes - 80), h.substr(896, tile_bytes - 80)) << t;
        EXPECT_EQ(vector_field<long>(h, at + 40), 2);
        EXPECT_EQ(vector_field<long>(h, at + 48 + 24), 3);
    }
    EXPECT_EQ(b.output.tiles_offset, static_cast<long>(896 + 5 * tile_bytes));

    ASSERT_EQ(b.writeAll(), 0);
    std::string line = "Orvex::writeTileDataVector: Processing resolution=full\n";
    std::string six;
    for (int i = 0; i < 6; i++) six += line;
    EXPECT_EQ(b.out, six);
    std::string f = b.bytes();
    // Every tile gets its own copy of the points, in tile order.
    for (size_t t = 0; t < 6; t++) {
        size_t rec = 896 + t * tile_bytes + 48;
        EXPECT_EQ(vector_field<long>(f, rec + 32), static_cast<long>(h.size() + t * 40));
        EXPECT_EQ(file_point(f, rec + 40, 0), std::make_pair(-3000000, -4000000));
    }
}

TEST(VectorBuild, PointsLeaveLittleEndianAndUnwrapped)
{
    VectorBuildCase b;
    GshhsPolygon p;
    p.points = {{123456, 0}, {179500000, 0}, {-179500000, 0}, {-179000000, 0}};
    ASSERT_EQ(b.openGshhs({p}), 0);
    // The input bytes of the first longitude are 00 01 E2 40.
    const unsigned char *raw = reinterpret_cast<const unsigned char *>(
        static_cast<OrvexVector *>(b.input.frame.resolutions[0].data)->tiles[0].segments[0].pts);
    EXPECT_EQ(raw[0], 0x00);
    EXPECT_EQ(raw[3], 0x40);
    ASSERT_EQ(b.openOutput(), 0);
    ASSERT_EQ(b.declare(1, 1), 0);
    ASSERT_EQ(b.writeAll(), 0);
    std::string f = b.bytes();
    ASSERT_EQ(f.size(), 984u + 32);
    EXPECT_EQ(f.substr(984, 4), std::string("\x40\xE2\x01\x00", 4));
    EXPECT_EQ(vector_field<int>(f, 992), 179500000);
    EXPECT_EQ(vector_field<int>(f, 1000), 180500000);
    EXPECT_EQ(vector_field<int>(f, 1008), 181000000);
}

// Shorelines with what the purge removes: a repeated point, a small
// self-crossing, and a ring across the meridian.
std::vector<GshhsPolygon> dirty_shorelines()
{
    std::vector<GshhsPolygon> polys;
    polys.push_back(gshhs_polygon(0, 1, {{0, 0}, {1, 0}, {2, 0}, {1, 0}, {3, 0}, {4, 1}, {4, 2},
                                         {0, 2}, {0, 0}}));
    polys.push_back(gshhs_polygon(1, 2, {{10, 10}, {11, 11}, {10, 11}, {11, 10}, {12, 9},
                                         {13, 9}, {13, 12}, {10, 10}}));
    polys.push_back(gshhs_polygon(2, 1, {{179.5, 60}, {-179.5, 60}, {-179, 61}, {-179.5, 62},
                                         {179.5, 62}, {179, 61}, {179.5, 60}}));
    return polys;
}


TEST(VectorBuild, FilledAndUnfilledMapsFromShorelines)
{
    VectorBuildCase unfilled, filled;
    ASSERT_EQ(unfilled.openGshhs(dirty_shorelines(), GshhsLayout::Old36), 0);
    ASSERT_EQ(filled.openGshhs(dirty_shorelines(), GshhsLayout::New44), 0);
    ASSERT_EQ(unfilled.openOutput(), 0);
    ASSERT_EQ(filled.openOutput(), 0);
    ASSERT_EQ(unfilled.declare(1, 1, -1, 0, 0), 0);
    EXPECT_EQ(unfilled.out, "");
    ASSERT_EQ(filled.declare(1, 1, -1, 1, 3), 0);
    EXPECT_EQ(filled.out,
              "Equal points near 1.000000 0.000000 between 1=1000000,0 and 3=1000000,0 "
              "npoints 9\n"
              "Crossing near 10.000000 10.000000 between 0=0,0 1=1000000,1000000 and "
              "2=0,1000000 3=1000000,0 npoints 8\n");
    ASSERT_EQ(unfilled.writeAll(), 0);
    ASSERT_EQ(filled.writeAll(), 0);

    Orvex r1, r2;
    const OrvexVectorTile &a = vector_read_back(r1, unfilled.out_path);
    const OrvexVectorTile &c = vector_read_back(r2, filled.out_path);
    ASSERT_EQ(a.nsegments, 3);
    ASSERT_EQ(c.nsegments, 3);
    EXPECT_EQ(a.fill, 0);
    EXPECT_EQ(c.fill, 1);
    const long unfilled_counts[] = {9, 8, 7}, filled_counts[] = {8, 7, 7};
    for (int s = 0; s < 3; s++) {
        EXPECT_EQ(a.segments[s].npts, unfilled_counts[s]);
        EXPECT_EQ(c.segments[s].npts, filled_counts[s]);
        EXPECT_EQ(a.segments[s].fill, 0);
        EXPECT_EQ(c.segments[s].fill, 1);
        EXPECT_EQ(c.segments[s].level, 3);
    }
    EXPECT_EQ(a.segments[1].level, 2);
    // The input's segments now hold the purged counts the file declares.
    const OrvexVectorTile &in = static_cast<OrvexVector *>(filled.input.frame.resolutions[0].data)->tiles[0];
    for (int s = 0; s < 3; s++) EXPECT_EQ(in.segments[s].npts, filled_counts[s]);

    // Points are little-endian and unwrapped across the meridian.
    const int meridian_lons[] = {179500000, 180500000, 181000000, 180500000, 179500000, 179000000,
                                 179500000};
    const int meridian_lats[] = {60000000, 60000000, 61000000, 62000000, 62000000, 61000000,
                                 60000000};
    for (int i = 0; i < 7; i++) {
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(a.segments[2].pts) + i * 8;
        int lon, lat;
        memcpy(&lon, bytes, 4);
        memcpy(&lat, bytes + 4, 4);
        EXPECT_EQ(lon, meridian_lons[i]) << i;
        EXPECT_EQ(lat, meridian_lats[i]) << i;
    }
    // The filled map lost the repeated point at index 3 of the first ring.
    const unsigned char *first = reinterpret_cast<const unsigned char *>(c.segments[0].pts);
    int lon3;
    memcpy(&lon3, first + 3 * 8, 4);
    EXPECT_EQ(lon3, 3000000);
}

TEST(VectorBuild, NamesLevelsAndEmptyTiles)
{
    VectorBuildCase b;
    ASSERT_EQ(b.openGshhs({gshhs_polygon(0, 5, {{1, 1}, {2, 2}})}), 0);  // nothing accepted
    ASSERT_EQ(b.openOutput(), 0);
    std::string long_name(200, 'n');
    ASSERT_EQ(b.declare(1, 1, -1, 0, 2, long_name.c_str(), nullptr), 0);
    ASSERT_EQ(b.declare(1, 1, -1, 0, 0, nullptr, "second"), 0);
    std::string h = b.bytes();
    EXPECT_EQ(std::string(h.data() + kRes + 592), long_name.substr(0, 127));
    EXPECT_EQ(std::string(h.data() + kRes + 720), "");
    const size_t second = 896 + 48;  // the first resolution has no segments
    EXPECT_EQ(std::string(h.data() + second + 592), "");
    EXPECT_EQ(std::string(h.data() + second + 720), "second");
    EXPECT_EQ(vector_field<long>(h, 8), 2);
    EXPECT_EQ(b.output.frame.nresolutions, 2);
    ASSERT_EQ(b.writeAll(), 0);
    EXPECT_EQ(b.bytes(), h);  // no segments: no points
}

TEST(VectorBuild, SecondInputExtendsTheLastOneTileResolution)
{
    VectorBuildCase b;
    Orvex first, second;
    vector_memory_input(first, {10, 20, -5, 5}, {{{1, 2}, {3, 4}}});
    vector_memory_input(second, {15, 30, -10, 0}, {{{5, 6}}, {{7, 8}, {9, 10}, {11, 12}}});
    ASSERT_EQ(b.openOutput(), 0);
    ASSERT_EQ(b.declare(1, 1, -1, 0, 0, "c", "r", &first), 0);
    ASSERT_EQ(b.declare(1, 1, 0, 1, 4, nullptr, nullptr, &second), 0);
    std::string h = b.bytes();
    ASSERT_EQ(h.size(), 944u + 3 * 40);
    EXPECT_EQ(vector_field<double>(h, 896), 10.0);
    EXPECT_EQ(vector_field<double>(h, 904), 30.0);
    EXPECT_EQ(vector_field<double>(h, 912), -10.0);
    EXPECT_EQ(vector_field<double>(h, 920), 5.0);
    EXPECT_EQ(vector_field<long>(h, 928), 1);
    EXPECT_EQ(vector_field<long>(h, 936), 3);
    EXPECT_EQ(vector_field<int>(h, 944), 1);      // level kept
    EXPECT_EQ(vector_field<int>(h, 944 + 40), 4);  // level replaced
    EXPECT_EQ(vector_field<int>(h, 944 + 44), 1);  // fill

    ASSERT_EQ(b.writeAll(), 0);
    EXPECT_EQ(b.out,
              "Orvex::writeTileDataVector: Processing resolution=r\n"
              "Orvex::writeTileDataVector: Processing resolution=r\n");
    Orvex reader;
    const OrvexVectorTile &t = vector_read_back(reader, b.out_path);
    ASSERT_EQ(t.nsegments, 3);
    EXPECT_EQ(t.segments[0].npts, 2);
    EXPECT_EQ(t.segments[1].npts, 1);
    EXPECT_EQ(t.segments[2].npts, 3);
    std::string f = b.bytes();
    EXPECT_EQ(vector_field<long>(f, 944 + 32), 1064);  // the first input's points first
    EXPECT_EQ(file_point(f, 944 + 80, 2), std::make_pair(11, 12));
}

// Runs `call`, expects -1 and exactly these messages.
template <typename F>
void expect_refusal(F call, const std::vector<std::string> &messages)
{
    elog_clear_register(0);
    testing::internal::CaptureStdout();
    int rc = call();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(vector_take_messages(), messages);
}

TEST(VectorBuild, DeclarationsThatWouldSpoilTheFileAreRefused)
{
    VectorBuildCase b;
    Orvex in, grid_in;
    vector_memory_input(in, {0, 1, 0, 1}, {{{1, 2}, {3, 4}}});
    vector_memory_input(grid_in, {0, 1, 0, 1}, {}, ORVEX_MAP_GRID);
    const std::string who = "Orvex::setResolutionHdrVector: ";
    Orvex &out = b.output;

    expect_refusal([&] { return out.setResolutionHdrVector(&in, 0, 0, 1, 1, -1, 0, 0, 0, 0); },
                   {who + "first need to open output file with setOutput()\n"});
    ASSERT_EQ(b.openOutput(), 0);
    expect_refusal([&] { return out.setResolutionHdrVector(&in, 1, 0, 1, 1, -1, 0, 0, 0, 0); },
                   {who + "input resolution out of range\n"});
    expect_refusal([&] { return out.setResolutionHdrVector(&grid_in, 0, 0, 1, 1, -1, 0, 0, 0, 0); },
                   {who + "input map type must be vector\n"});
    expect_refusal([&] { return out.setResolutionHdrVector(&in, 0, 1, 1, 1, -1, 0, 0, 0, 0); },
                   {who + "input tile out of range\n"});
    expect_refusal([&] { return out.setResolutionHdrVector(&in, 0, 0, 0, 1, -1, 0, 0, 0, 0); },
                   {who + "tile counts must be at least 1 (nlat_tiles 0, nlon_tiles 1)\n"});
    expect_refusal([&] { return out.setResolutionHdrVector(&in, 0, 0, 1, -3, -1, 0, 0, 0, 0); },
                   {who + "tile counts must be at least 1 (nlat_tiles 1, nlon_tiles -3)\n"});
    expect_refusal([&] { return out.setResolutionHdrVector(&in, 0, 0, 1, 1, 0, 0, 0, 0, 0); },
                   {who + "output resolution out of range\n"});
    EXPECT_EQ(b.bytes().size(), 24u);  // nothing written by any refusal

    ASSERT_EQ(out.setResolutionHdrVector(&in, 0, 0, 2, 1, -1, 0, 0, 0, 0), 0);  // resolution 0
    expect_refusal([&] { return out.setResolutionHdrVector(&in, 0, 0, 2, 1, 0, 0, 0, 0, 0); },
                   {who + "cannot add an input to resolution 0 of 2 tiles: only the segment "
                          "records of a single tile can be extended\n"});
    ASSERT_EQ(out.setResolutionHdrVector(&in, 0, 0, 1, 1, -1, 0, 0, 0, 0), 0);  // resolution 1
    expect_refusal([&] { return out.setResolutionHdrVector(&in, 0, 0, 2, 1, 1, 0, 0, 0, 0); },
                   {who + "tile counts 2 x 1 differ from those of resolution 1 (1 x 1)\n"});
    ASSERT_EQ(out.setResolutionHdrVector(&in, 0, 0, 1, 1, -1, 0, 0, 0, 0), 0);  // resolution 2
    expect_refusal([&] { return out.setResolutionHdrVector(&in, 0, 0, 1, 1, 1, 0, 0, 0, 0); },
                   {who + "cannot add an input to resolution 1: resolution 2 was declared after "
                          "it\n"});
    std::string before = b.bytes();
    ASSERT_EQ(b.writeAll(), 0);
    expect_refusal([&] { return out.setResolutionHdrVector(&in, 0, 0, 1, 1, 2, 0, 0, 0, 0); },
                   {who + "cannot declare a resolution after tile data has been written to " +
                    b.out_path + "\n"});
    expect_refusal([&] { return out.setResolutionHdrVector(&in, 0, 0, 1, 1, -1, 0, 0, 0, 0); },
                   {who + "cannot declare a resolution after tile data has been written to " +
                    b.out_path + "\n"});
    EXPECT_EQ(out.frame.nresolutions, 3);
    EXPECT_EQ(vector_field<long>(b.bytes(), 8), 3);
    EXPECT_EQ(b.bytes().substr(0, 900), before.substr(0, 900));
}

TEST(VectorBuild, TileWriterRefusals)
{
    VectorBuildCase b;
    Orvex in, grid_in;
    vector_memory_input(in, {0, 1, 0, 1}, {{{1, 2}, {3, 4}}});
    vector_memory_input(grid_in, {0, 1, 0, 1}, {}, ORVEX_MAP_GRID);
    const std::string who = "Orvex::writeTileDataVector: ";
    Orvex &out = b.output;

    expect_refusal([&] { return out.writeTileDataVector(0, 0); },
                   {who + "first need to open output file with setOutput()\n"});
    ASSERT_EQ(b.openOutput(), 0);
    EXPECT_EQ(b.writeAll(), 0);  // no resolutions: nothing to write
    EXPECT_EQ(b.bytes().size(), 24u);
    expect_refusal([&] { return out.writeTileDataVector(0, 0); },
                   {who + "Cannot find input for this output resolution\n"});
    ASSERT_EQ(out.setResolutionHdrVector(&in, 0, 0, 1, 2, -1, 0, 0, 0, 0), 0);
    expect_refusal([&] { return out.writeTileDataVector(0, 2); }, {who + "output tile out of range\n"});
    expect_refusal([&] { return out.writeTileDataVector(0, -1); }, {who + "output tile out of range\n"});
    ASSERT_EQ(out.setInputArr(&in, 0, 0, 4), 0);
    expect_refusal([&] { return out.writeTileDataVector(4, 0); },
                   {who + "output resolution out of range\n"});
    ASSERT_EQ(out.setInputArr(&grid_in, 0, 0, 0), 0);
    expect_refusal([&] { return out.writeTileDataVector(0, 0); },
                   {who + "input map type must be vector\n"});
}

TEST(VectorBuild, WalkerStopsAtAGridResolution)
{
    VectorBuildCase b;
    Orvex in;
    vector_memory_input(in, {0, 1, 0, 1}, {{{1, 2}}});
    ASSERT_EQ(b.openOutput(), 0);
    // A grid resolution standing first, as the grid header writer leaves it.
    Orvex &out = b.output;
    out.frame.resolutions = static_cast<OrvexResolution *>(calloc(1, sizeof(OrvexResolution)));
    out.frame.nresolutions = 1;
    out.frame.resolutions[0].map_type = ORVEX_MAP_GRID;
    out.frame.resolutions[0].ntiles = 1;
    ASSERT_EQ(out.setInputArr(&in, 0, 0, 0), 0);
    elog_clear_register(0);
    EXPECT_EQ(out.writeDataVector(), -1);
    std::vector<std::string> m = vector_take_messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0], "Orvex::writeTileDataVector: output map type must be vector\n");
    // Raised with the system error flag, whatever errno then holds.
    EXPECT_EQ(m[1].rfind("Orvex::writeData: writeTileDataVector() error.: ", 0), 0u);
}

TEST(VectorBuild, InputChangedSinceDeclarationIsRefused)
{
    // Declaring an unfilled resolution, then a filled one from the same
    // input, purges the segments the first one's records were copied from.
    VectorBuildCase b;
    ASSERT_EQ(b.openGshhs(dirty_shorelines()), 0);
    ASSERT_EQ(b.openOutput(), 0);
    ASSERT_EQ(b.declare(1, 1, -1, 0), 0);
    ASSERT_EQ(b.declare(1, 1, -1, 1), 0);
    elog_clear_register(0);
    EXPECT_EQ(b.writeAll(), -1);
    std::vector<std::string> m = vector_take_messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0],
              "Orvex::writeTileDataVector: segment 0 of an input changed since the resolution "
              "was declared (9 points then, 8 now)\n");
}

// Every system call of a declaration and of the writing fails in turn: the
// failure is reported with its message and nothing crashes or leaks.
TEST(VectorBuild, FailingCallsAreReported)
{
    struct Expect {
        VectorFaults::Kind kind;
        bool writing;
    };
    const Expect cases[] = {{VectorFaults::Write, false}, {VectorFaults::Lseek, false},
                            {VectorFaults::Malloc, false}, {VectorFaults::Realloc, false},
                            {VectorFaults::Write, true},  {VectorFaults::Lseek, true}};
    for (const Expect &c : cases) {
        int failures = 0;
        for (long n = 0;; n++) {
            SCOPED_TRACE(testing::Message() << "kind " << c.kind << " call " << n << " writing "
                                            << c.writing);
            VectorBuildCase b;
            Orvex first, second;
            vector_memory_input(first, {0, 1, 0, 1}, {{{0, 0}, {1, 0}, {2, 0}, {0, 0}, {3, 0}}});
            vector_memory_input(second, {0, 2, 0, 1}, {{{5, 5}, {6, 6}}, {}});
            ASSERT_EQ(b.openOutput(), 0);
            int rc;
            bool fired;
            elog_clear_register(0);
            testing::internal::CaptureStdout();
            {
                VectorFaults faults(c.writing ? VectorFaults::Write : c.kind, c.writing ? -1 : n);
                rc = b.output.setResolutionHdrVector(&first, 0, 0, 1, 1, -1, 1, 0, "a", "b");
                if (rc == 0) rc = b.output.setResolutionHdrVector(&second, 0, 0, 1, 1, 0, 1, 0, 0, 0);
                fired = VectorFaults::failed();
            }
            if (c.writing && rc == 0) {
                VectorFaults faults(c.kind, n);
                rc = b.output.writeDataVector();
                fired = VectorFaults::failed();
            }
            testing::internal::GetCapturedStdout();
            std::vector<std::string> m = vector_take_messages();
            if (!fired) {
                EXPECT_EQ(rc, 0) << testing::PrintToString(m);
                break;
            }
            if (rc == 0) {
                // A purge that could not run leaves its segment uncleaned and
                // the declaration goes on.
                for (const std::string &msg : m)
                    EXPECT_TRUE(msg.rfind("orvex_purgeVectorDataBadPoints", 0) == 0 ||
                                msg.rfind("Orvex::adoptPoints", 0) == 0)
                        << msg;
                continue;
            }
            EXPECT_EQ(rc, -1);
            if (n == 0 && c.kind == VectorFaults::Write && !c.writing) {
                EXPECT_EQ(m.back(),
                          "Orvex::setResolutionHdrVector: write() error.: No space left on device\n");
            }
            ASSERT_FALSE(m.empty());
            const char *chain_end = c.writing ? "Orvex::writeData: writeTileDataVector() error.: "
                                              : "Orvex::setResolutionHdrVector: ";
            EXPECT_EQ(m.back().rfind(chain_end, 0), 0u) << testing::PrintToString(m);
            failures++;
        }
        EXPECT_GE(failures, 1) << "kind " << c.kind << " writing " << c.writing;
    }
}

}  // namespace

