// Reading map files crafted byte by byte: the layouts and offsets of the
// format, and refusal of every file whose records, payloads or points would
// reach past its end.

#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "OrvexInternal.h"
#include "map_bytes.h"

using orvex_test::clearRegister;
using orvex_test::MapBytes;
using orvex_test::registered;
using orvex_test::sampleMapFile;
using orvex_test::TempDir;
using orvex_test::writeFile;
using Chain = std::vector<std::string>;

namespace {

class MapFileReader : public ::testing::Test {
protected:
    TempDir dir;
    std::string path;
    void SetUp() override
    {
        clearRegister();
        path = dir.file("m.orx");
    }
    int open(Orvex &o, const std::vector<unsigned char> &bytes)
    {
        writeFile(path, bytes);
        return o.setInput(path.c_str(), 0, nullptr);
    }
    // Opens the bytes and expects a refusal whose first message contains
    // `what`, leaving the object without resolutions or mapping.
    void expectRefused(const std::vector<unsigned char> &bytes, const std::string &what)
    {
        clearRegister();
        Orvex o;
        ASSERT_EQ(open(o, bytes), -1);
        Chain chain = registered();
        ASSERT_EQ(chain.size(), 2u);
        EXPECT_NE(chain[0].find(what), std::string::npos) << chain[0];
        EXPECT_EQ(chain[1], "Orvex::setInput: scanInput(" + path + ") error.\n");
        EXPECT_EQ(o.frame.nresolutions, 0);
        EXPECT_EQ(o.frame.resolutions, nullptr);
        EXPECT_EQ(o.file_stream, nullptr);
    }
};

TEST_F(MapFileReader, EmptyFileOfTwentyFourBytes)
{
    MapBytes m;
    m.header(0).zeros(8);
    Orvex o;
    ASSERT_EQ(open(o, m.bytes), 0);
    EXPECT_EQ(o.frame.nresolutions, 0);
    EXPECT_EQ(elog_count(), 0);
}

TEST_F(MapFileReader, WrongMagicIsRefused)
{
    for (const char *magic : {"ORX1    ", "orx0    ", "ORX0   \0"}) {
        MapBytes m;
        m.header(0, magic).zeros(8);
        clearRegister();
        Orvex o;
        ASSERT_EQ(open(o, m.bytes), -1);
        EXPECT_EQ(registered(), (Chain{"Orvex::scanInput: wrong magic number.\n",
                                       "Orvex::setInput: scanInput(" + path + ") error.\n"}));
        EXPECT_EQ(o.frame.nresolutions, 0);
    }
}

TEST_F(MapFileReader, GridOfTwoTilesAddressesPayloadsInTheMapping)
{
    MapBytes m;
    m.header(1).resolution(0, 2, 1);
    ASSERT_EQ(m.size(), 864u);
    m.gridHeader(1, 1);
    ASSERT_EQ(m.size(), 968u);
    m.gridTile(5, 5, 2, 1032);
    ASSERT_EQ(m.size(), 1000u);
    m.gridTile(0, 0, 0, 0);  // declared, never written
    ASSERT_EQ(m.size(), 1032u);
    int16_t sample = 5;
    m.raw(&sample, 2);
    Orvex o;
    ASSERT_EQ(open(o, m.bytes), 0);
    ASSERT_EQ(o.frame.nresolutions, 1);
    OrvexResolution &r = o.frame.resolutions[0];
    EXPECT_STREQ(r.name, "res");
    EXPECT_STREQ(r.source.fname, "/data/source.dem");
    EXPECT_EQ(r.ntiles, 2);
    OrvexGrid *g = static_cast<OrvexGrid *>(r.data);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->nlon_per_tile, 1);
    EXPECT_EQ(g->tiles[0].buf, o.file_stream + 1032);
    EXPECT_EQ(g->tiles[0].nbuf, 2u);
    EXPECT_EQ(g->tiles[0].zmin, 5);
    EXPECT_EQ(g->tiles[1].buf, o.file_stream);
    EXPECT_EQ(g->tiles[1].nbuf, 0u);
}

TEST_F(MapFileReader, VectorTileOfTwoSegmentsAddressesPointsInTheMapping)
{
    MapBytes m;
    m.header(1).resolution(1, 1, 1).vectorHeader(-1, 1, -1, 1);
    ASSERT_EQ(m.size(), 896u);
    m.vectorTile(1, 2);
    ASSERT_EQ(m.size(), 944u);
    m.segment(1, 1, 2, 1024).segment(2, 1, 1, 1040);
    ASSERT_EQ(m.size(), 1024u);
    int32_t pts[6] = {1, 2, 3, 4, 5, 6};
    m.raw(pts, sizeof pts);
    Orvex o;
    ASSERT_EQ(open(o, m.bytes), 0);
    OrvexVector *v = static_cast<OrvexVector *>(o.frame.resolutions[0].data);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->lonmin, -1);
    OrvexVectorTile &t = v->tiles[0];
    EXPECT_EQ(t.fill, 1);
    ASSERT_EQ(t.nsegments, 2);
    EXPECT_EQ(t.segments[0].pts, reinterpret_cast<OrvexXY *>(o.file_stream + 1024));
    EXPECT_EQ(t.segments[1].pts[0].lon_microdegrees, 5);
    EXPECT_EQ(t.segments[1].level, 2);
}

TEST_F(MapFileReader, EmptyVectorTileIsFollowedByTheNextTileRecord)
{
    MapBytes m;
    m.header(1).resolution(1, 2, 1).vectorHeader(0, 0, 0, 0);
    m.vectorTile(0, 0).vectorTile(1, 1).segment(3, 1, 0, 0);
    Orvex o;
    ASSERT_EQ(open(o, m.bytes), 0);
    OrvexVector *v = static_cast<OrvexVector *>(o.frame.resolutions[0].data);
    EXPECT_EQ(v->tiles[0].nsegments, 0);
    EXPECT_EQ(v->tiles[1].nsegments, 1);
    EXPECT_EQ(v->tiles[1].segments[0].level, 3);
}

TEST_F(MapFileReader, UnknownMapTypeEndsAfterItsRecord)
{
    MapBytes m;
    m.header(2).resolution(2, 1, 1).resolution(0, 1, 1).gridHeader(0, 0).gridTile(0, 0, 0, 0);
    Orvex o;
    ASSERT_EQ(open(o, m.bytes), 0);
    EXPECT_EQ(o.frame.resolutions[0].data, nullptr);
    EXPECT_EQ(o.frame.resolutions[1].map_type, 0);
    EXPECT_NE(o.frame.resolutions[1].data, nullptr);
}

TEST_F(MapFileReader, CountsThatDoNotFitAreRefusedBeforeAllocating)
{
    MapBytes huge;
    huge.header(INT64_MAX / 2).zeros(8);
    expectRefused(huge.bytes, "resolution count");
    MapBytes negative;
    negative.header(-1).zeros(8);
    expectRefused(negative.bytes, "resolution count");

    MapBytes tiles;
    tiles.header(1).resolution(0, 1000000, 1000000).gridHeader(1, 1);
    expectRefused(tiles.bytes, "tile index reaches past the end");

    MapBytes mismatch;
    mismatch.header(1).resolution(0, 2, 2, 3).gridHeader(1, 1).zeros(3 * 32);
    expectRefused(mismatch.bytes, "ntiles differs");

    MapBytes overflow;
    overflow.header(1).resolution(0, INT64_MAX / 2, 4, 0).gridHeader(1, 1);
    expectRefused(overflow.bytes, "ntiles differs");

    MapBytes segments;
    segments.header(1).resolution(1, 1, 1).vectorHeader(0, 0, 0, 0).vectorTile(1, 1 << 30);
    expectRefused(segments.bytes, "segment records reach past the end");

    MapBytes negsegs;
    negsegs.header(1).resolution(1, 1, 1).vectorHeader(0, 0, 0, 0).vectorTile(1, -2);
    expectRefused(negsegs.bytes, "negative segment count");
}

TEST_F(MapFileReader, PayloadsAndPointsMustLieInsideTheFile)
{
    MapBytes payload;
    payload.header(1).resolution(0, 1, 1).gridHeader(1, 1).gridTile(0, 0, 2, 999);
    expectRefused(payload.bytes, "tile payload reaches past the end");
    MapBytes wrap;
    wrap.header(1).resolution(0, 1, 1).gridHeader(1, 1).gridTile(0, 0, UINT64_MAX, 16);
    expectRefused(wrap.bytes, "tile payload reaches past the end");

    MapBytes points;
    points.header(1).resolution(1, 1, 1).vectorHeader(0, 0, 0, 0).vectorTile(1, 1).segment(1, 1, 3, 970);
    expectRefused(points.bytes, "segment points reach past the end");
    MapBytes negpts;
    negpts.header(1).resolution(1, 1, 1).vectorHeader(0, 0, 0, 0).vectorTile(1, 1).segment(1, 1, -1, 0);
    expectRefused(negpts.bytes, "negative point count");
    MapBytes bigpts;
    bigpts.header(1).resolution(1, 1, 1).vectorHeader(0, 0, 0, 0).vectorTile(1, 1).segment(1, 1, INT64_MAX / 4, 16);
    expectRefused(bigpts.bytes, "segment points reach past the end");
}

TEST_F(MapFileReader, NegativeOrHugeTileSizesAreRefused)
{
    MapBytes neg;
    neg.header(1).resolution(0, 1, 1).gridHeader(-4, 2).gridTile(0, 0, 0, 0);
    expectRefused(neg.bytes, "grid tile size");
    MapBytes big;
    big.header(1).resolution(0, 1, 1).gridHeader(1L << 40, 1L << 40).gridTile(0, 0, 0, 0);
    expectRefused(big.bytes, "grid tile size");
}

TEST_F(MapFileReader, SampleFileReadsWhole)
{
    Orvex o;
    ASSERT_EQ(open(o, sampleMapFile()), 0);
    ASSERT_EQ(o.frame.nresolutions, 3);
    OrvexVector *v = static_cast<OrvexVector *>(o.frame.resolutions[1].data);
    EXPECT_EQ(v->tiles[0].segments[1].pts[1].lon_microdegrees, 180100000);
    unsigned char *samples = nullptr;
    ASSERT_EQ(o.getTileGrid(0, 0, &samples), 0);
    int16_t s = 0;
    memcpy(&s, samples + 6, 2);
    EXPECT_EQ(s, 4);
}

// Every truncation of a valid file is read or refused, never read past.
TEST_F(MapFileReader, EveryTruncationIsReadOrRefused)
{
    std::vector<unsigned char> bytes = sampleMapFile();
    for (size_t n = 16; n < bytes.size(); n++) {
        clearRegister();
        Orvex o;
        std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
        int rc = open(o, cut);
        if (rc < 0) {
            EXPECT_GE(elog_count(), 2) << n;
            EXPECT_EQ(o.frame.nresolutions, 0) << n;
        }
    }
}

// Random corruptions: the reader and the tile access behind it either work
// or refuse with a message; the sanitizer build catches any stray read.
TEST_F(MapFileReader, RandomCorruptionsAreReadOrRefused)
{
    std::vector<unsigned char> bytes = sampleMapFile();
    std::mt19937 rng(20261207);
    int refused = 0;
    for (int trial = 0; trial < 3000; trial++) {
        std::vector<unsigned char> bad = bytes;
        int flips = 1 + static_cast<int>(rng() % 4);
        for (int f = 0; f < flips; f++) {
            size_t at = rng() % bad.size();
            bad[at] = static_cast<unsigned char>(rng() % 3 == 0 ? 0xFF : rng());
        }
        clearRegister();
        Orvex o;
        if (open(o, bad) < 0) {
            refused++;
            EXPECT_GE(elog_count(), 2);
            continue;
        }
        for (long r = 0; r < o.frame.nresolutions; r++) {
            OrvexResolution &res = o.frame.resolutions[r];
            for (long t = 0; t < res.ntiles && t < 4; t++) {
                unsigned char *out = nullptr;
                if (res.map_type == ORVEX_MAP_GRID && o.getTileGrid(static_cast<int>(r), static_cast<int>(t), &out) == 0) {
                    OrvexGrid *g = static_cast<OrvexGrid *>(res.data);
                    long n = g->nlat_per_tile * g->nlon_per_tile * (g->content == 1 ? 2 : 3);
                    volatile unsigned sum = 0;
                    for (long i = 0; i < n; i++) sum = sum + out[i];
                }
            }
            if (res.map_type == ORVEX_MAP_VECTOR) {
                OrvexVector *v = static_cast<OrvexVector *>(res.data);
                for (long t = 0; t < res.ntiles; t++)
                    for (long s = 0; s < v->tiles[t].nsegments; s++) {
                        OrvexVectorSegment &seg = v->tiles[t].segments[s];
                        // Point arrays need not be aligned: read them as bytes.
                        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(seg.pts);
                        volatile long sum = 0;
                        for (long p = 0; p < seg.npts * 8; p++) sum = sum + bytes[p];
                    }
            }
        }
    }
    EXPECT_GT(refused, 0);
}

}  // namespace

namespace {

int allocations_left = -1;
void *failing_malloc(size_t n)
{
    if (allocations_left == 0) {
        errno = ENOMEM;
        return nullptr;
    }
    if (allocations_left > 0) allocations_left--;
    return malloc(n);
}

// Each allocation of the reader fails in turn: the failure is registered
// with the system error, the object is left without resolutions, and
// nothing leaks (the sanitizer build checks).
TEST_F(MapFileReader, EveryFailingAllocationIsReportedAndReleased)
{
    writeFile(path, sampleMapFile());
    orvex_sys_malloc = failing_malloc;
    int failures = 0;
    for (int k = 0; k < 20; k++) {
        clearRegister();
        allocations_left = k;
        Orvex o;
        int rc = o.setInput(path.c_str(), 0, nullptr);
        allocations_left = -1;
        if (rc == 0) break;
        failures++;
        Chain chain = registered();
        ASSERT_EQ(chain.size(), 2u) << k;
        EXPECT_EQ(chain[0].rfind("Orvex::scanInput: malloc(", 0), 0u) << chain[0];
        EXPECT_NE(chain[0].find(strerror(ENOMEM)), std::string::npos) << chain[0];
        EXPECT_EQ(o.frame.nresolutions, 0);
    }
    orvex_sys_malloc = malloc;
    EXPECT_EQ(failures, 6);  // resolutions, grid, tiles, vector, tiles, segments
    clearRegister();
}

}  // namespace

namespace {

TEST_F(MapFileReader, NamesWithoutTheirEndAreCutAtTheFieldSize)
{
    MapBytes m;
    m.header(1).resolution(2, 1, 1);
    memset(&m.bytes[16], 'S', 512);        // source file name
    memset(&m.bytes[16 + 592], 'N', 128);  // name
    memset(&m.bytes[16 + 720], 'L', 64);   // label
    Orvex o;
    ASSERT_EQ(open(o, m.bytes), 0);
    EXPECT_EQ(strlen(o.frame.resolutions[0].source.fname), 511u);
    EXPECT_EQ(strlen(o.frame.resolutions[0].name), 127u);
    EXPECT_EQ(strlen(o.frame.resolutions[0].resolution), 63u);
}

}  // namespace
