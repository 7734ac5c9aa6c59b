// Tile payload streams: what the library's deflater makes is a zlib stream
// that plain zlib inflates (in the zlib build, the very bytes zlib makes);
// the inflater accepts short streams and refuses long, cut or damaged ones
// exactly as zlib's one-call inflate does; and the codec state failing to
// be made is reported as before, by reader and writer alike.

#include <gtest/gtest.h>
#include <zlib.h>

#include <thread>

#include "grid_fixtures.h"
#include "grid_terrain.h"
#include "tile_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;

int collect(void *out, const unsigned char *p, size_t n)
{
    Bytes *b = static_cast<Bytes *>(out);
    b->insert(b->end(), p, p + n);
    return 0;
}

// The library's stream of `raw`, fed in pieces of `piece` bytes.
Bytes library_deflate(const Bytes &raw, size_t piece)
{
    Bytes out;
    OrvexTileDeflater d(collect, &out);
    EXPECT_EQ(d.open(raw.size()), 0);
    for (size_t at = 0; at < raw.size(); at += piece)
        EXPECT_EQ(d.put(raw.data() + at, std::min(piece, raw.size() - at)), 0);
    EXPECT_EQ(d.finish(), 0);
    return out;
}

Bytes terrain_bytes(long nlat, long nlon)
{
    std::vector<int16_t> z = grid_terrain(nlat, nlon, 5);
    Bytes raw(z.size() * 2);
    if (!raw.empty()) memcpy(raw.data(), z.data(), raw.size());
    return raw;
}

TEST(TileCodec, StreamsArePlainZlibAtTheDefaultLevel)
{
    for (long n : {0L, 1L, 40L, 300L}) {
        Bytes raw = terrain_bytes(n, 64);
        Bytes z = library_deflate(raw, 4193);
        ASSERT_GE(z.size(), 6u);
        EXPECT_EQ(z[0], 0x78);  // deflate, 32 KiB window
        EXPECT_EQ(z[1], 0x9C);  // default level, header check
        Bytes back(raw.size() + 1);
        uLongf len = back.size();
        ASSERT_EQ(uncompress(back.data(), &len, z.data(), z.size()), Z_OK);
        back.resize(len);
        EXPECT_TRUE(back == raw) << n;
#ifdef ORVEX_CODEC_ZLIB
        // Byte for byte what zlib itself makes, whatever the pieces.
        Bytes ref(compressBound(raw.size()));
        uLongf rn = ref.size();
        ASSERT_EQ(compress2(ref.data(), &rn, raw.data(), raw.size(), Z_DEFAULT_COMPRESSION), Z_OK);
        ref.resize(rn);
        EXPECT_TRUE(z == ref) << n;
        EXPECT_TRUE(library_deflate(raw, 7) == ref) << n;
#endif
    }
}

OrvexInflateResult inflate_into(const Bytes &z, Bytes *out, size_t *got = nullptr)
{
    void *state = orvex_tile_inflater();
    EXPECT_NE(state, nullptr);
    size_t n = 0;
    OrvexInflateResult rc = orvex_tile_inflate(state, z.data(), z.size(), out->data(), out->size(), &n);
    if (got) *got = n;
    return rc;
}

TEST(TileCodec, ShortStreamsFitLongCutAndDamagedOnesFail)
{
    Bytes raw = terrain_bytes(30, 50);
    Bytes z = grid_deflate(raw);  // plain zlib's stream
    Bytes exact(raw.size()), roomy(raw.size() + 10, 0xEE), tight(raw.size() - 1);
    EXPECT_EQ(inflate_into(z, &exact), ORVEX_INFLATE_OK);
    EXPECT_TRUE(exact == raw);
    size_t got = 0;
    EXPECT_EQ(inflate_into(z, &roomy, &got), ORVEX_INFLATE_OK);
    EXPECT_EQ(got, raw.size());  // what the cache zeroes after it
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), roomy.begin()));
    for (size_t i = raw.size(); i < roomy.size(); i++) EXPECT_EQ(roomy[i], 0xEE);  // left as it was
    EXPECT_EQ(inflate_into(z, &tight), ORVEX_INFLATE_BAD);

    Bytes trailing = z;  // bytes after the stream's end are not read
    trailing.insert(trailing.end(), {1, 2, 3});
    EXPECT_EQ(inflate_into(trailing, &exact), ORVEX_INFLATE_OK);
    Bytes cut(z.begin(), z.end() - 1), half(z.begin(), z.begin() + z.size() / 2);
    Bytes checksum = z, header = z;
    checksum.back() ^= 1;
    header[0] = 0x79;  // not deflate
    for (const Bytes *bad : {&cut, &half, &checksum, &header})
        EXPECT_EQ(inflate_into(*bad, &exact), ORVEX_INFLATE_BAD);
    orvex_tile_inflater_free(orvex_tile_inflater());  // made and given back unused
}

void *no_state()
{
    return nullptr;
}

// The codec state cannot be made: the reader and the writer say so as
// they did with zlib's stream, and nothing is kept.
TEST(TileCodec, CodecStateThatCannotBeMadeIsReported)
{
    Orvex().cleanCache(0, 1);
    elog_clear_register(0);
    std::vector<std::vector<uint8_t>> payloads = {grid_deflate(grid_samples(50, 3))};
    Orvex in;
    grid_fake_input(&in, {1}, 10, 5, true, payloads);
    unsigned char *out;
    void *(*inflater)(void) = orvex_sys_inflater_new;
    orvex_sys_inflater_new = no_state;
    EXPECT_EQ(in.getTileGrid(0, 0, &out), -1);
    orvex_sys_inflater_new = inflater;
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(grid_take_messages(), std::vector<std::string>{"Orvex::getTileGrid: deflateInit() error.\n"});
    EXPECT_EQ(orvex_cache_count(), 0);
    ASSERT_EQ(in.getTileGrid(0, 0, &out), 0);

    GridTempDir dir;
    Orvex map;
    ASSERT_EQ(map.setOutput(dir.path("d.orx").c_str()), 0);
    ASSERT_EQ(map.setResolutionHdrGrid(&in, 0, 0, 1, 1, 1, 1, "a", "b"), 0);
    void *(*deflater)(void) = orvex_sys_deflater_new;
    orvex_sys_deflater_new = no_state;
    EXPECT_EQ(map.writeTileDataGrid(0, 0, 1, 0), -1);
    orvex_sys_deflater_new = deflater;
    EXPECT_EQ(grid_take_messages(),
              std::vector<std::string>{"Orvex::writeTileDataGrid: deflateInit() error.\n"});
}

}  // namespace
