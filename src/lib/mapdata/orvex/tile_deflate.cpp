// Deflating one tile payload into one zlib stream at the default level,
// with the backend chosen at build time: zlib streams the samples through
// a 3600-byte buffer as they come (the bytes older writers made, piece for
// piece); libdeflate, about twice as fast, compresses the whole tile at
// once, so it gathers the samples first (a tile and its bound per worker).

#include <stdlib.h>
#include <string.h>

#include "OrvexInternal.h"
#include "tile_codec.h"

namespace {
const int kLevel = 6;  // zlib's default level
}

int OrvexTileDeflater::fail(int flag, const char *what)
{
    orvex_register_error(flag, "Orvex::writeTileDataGrid: %s\n", what);
    return -1;
}

OrvexTileDeflater::OrvexTileDeflater(OrvexEmit emit, void *context) : emit_(emit), context_(context) {}

#ifdef ORVEX_CODEC_ZLIB

#include <zlib.h>

namespace {
const size_t kPiece = 3600;

void *new_deflater()
{
    z_stream *zs = static_cast<z_stream *>(calloc(1, sizeof(z_stream)));
    if (zs && deflateInit(zs, kLevel) != Z_OK) {
        free(zs);
        return nullptr;
    }
    return zs;
}
}  // namespace

void orvex_tile_deflater_release(void) {}

OrvexTileDeflater::~OrvexTileDeflater()
{
    if (codec_) deflateEnd(static_cast<z_stream *>(codec_));
    free(codec_);
}

int OrvexTileDeflater::open(size_t)
{
    codec_ = orvex_sys_deflater_new();
    return codec_ ? 0 : fail(0, "deflateInit() error.");
}

// Runs deflate with the 3600-byte piece as output until it stops filling
// it, emitting every piece; *result receives deflate's last result.
// 0, or -1 when deflate failed or a piece could not be emitted.
int OrvexTileDeflater::drain(int flush, int *result)
{
    z_stream *zs = static_cast<z_stream *>(codec_);
    unsigned char piece[kPiece];
    int rc;
    do {
        zs->next_out = piece;
        zs->avail_out = kPiece;
        rc = deflate(zs, flush);
        // Z_BUF_ERROR only says that no progress was possible: the previous
        // call filled the piece exactly and nothing is left.
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return fail(0, "deflate() error.");
        size_t have = kPiece - zs->avail_out;
        if (have > 0 && emit_(context_, piece, have) < 0) return -1;
        if (flush == Z_FINISH && (have == 0 || rc == Z_STREAM_END)) break;
    } while (zs->avail_out == 0);
    *result = rc;
    return 0;
}

int OrvexTileDeflater::put(const unsigned char *bytes, size_t n)
{
    z_stream *zs = static_cast<z_stream *>(codec_);
    zs->next_in = const_cast<unsigned char *>(bytes);
    zs->avail_in = static_cast<uInt>(n);
    int rc;
    return drain(Z_NO_FLUSH, &rc);
}

int OrvexTileDeflater::finish()
{
    z_stream *zs = static_cast<z_stream *>(codec_);
    zs->next_in = nullptr;
    zs->avail_in = 0;
    int rc;
    if (drain(Z_FINISH, &rc) < 0) return -1;
    deflateEnd(zs);
    free(codec_);
    codec_ = nullptr;
    return rc == Z_STREAM_END ? 0 : fail(0, "deflate() error.");
}

#else

#include <libdeflate.h>

namespace {

// What a thread's deflaters keep from one tile to the next: the compressor
// and the two buffers (the samples, the stream). Made afresh for every tile
// they cost a build of many tiles much of its system time, because the
// allocator hands blocks this large back to the system when they are freed
// and every page of the next tile's faults in again. A thread keeps one
// of each, the largest it has used, until it ends or the build gives them
// back (orvex_tile_deflater_release).
struct Kept {
    void *codec = nullptr;
    unsigned char *in = nullptr, *out = nullptr;
    size_t in_cap = 0, out_cap = 0;

    ~Kept() { release(); }
    void release()
    {
        if (codec) libdeflate_free_compressor(static_cast<libdeflate_compressor *>(codec));
        free(in);
        free(out);
        codec = nullptr;
        in = out = nullptr;
        in_cap = out_cap = 0;
    }
};

thread_local Kept kept;

// Takes the thread's kept compressor, or makes one.
void *new_deflater()
{
    void *c = kept.codec;
    kept.codec = nullptr;
    return c ? c : libdeflate_alloc_compressor(kLevel);
}

// Keeps a buffer for the thread's next tile when it is the larger one.
void keep_buffer(unsigned char **slot, size_t *slot_cap, unsigned char *b, size_t cap)
{
    if (!b) return;
    if (cap > *slot_cap) {
        free(*slot);
        *slot = b;
        *slot_cap = cap;
    } else {
        free(b);
    }
}

}  // namespace

void orvex_tile_deflater_release(void)
{
    kept.release();
}

OrvexTileDeflater::~OrvexTileDeflater()
{
    if (codec_ && !kept.codec)
        kept.codec = codec_;
    else if (codec_)
        libdeflate_free_compressor(static_cast<libdeflate_compressor *>(codec_));
    keep_buffer(&kept.in, &kept.in_cap, buf_, cap_);
}

int OrvexTileDeflater::open(size_t expected)
{
    codec_ = orvex_sys_deflater_new();
    if (!codec_) return fail(0, "deflateInit() error.");
    if (kept.in) {
        buf_ = kept.in;
        cap_ = kept.in_cap;
        kept.in = nullptr;
        kept.in_cap = 0;
    }
    return grow(expected);
}

// Makes room for `need` bytes of samples, keeping those gathered.
int OrvexTileDeflater::grow(size_t need)
{
    if (need <= cap_ && buf_) return 0;
    size_t cap = need > 2 * cap_ ? need : 2 * cap_;
    unsigned char *b = static_cast<unsigned char *>(orvex_sys_malloc(cap ? cap : 1));
    if (!b) return fail(1, "malloc(deflate buffer) error.");
    if (used_) memcpy(b, buf_, used_);
    free(buf_);
    buf_ = b;
    cap_ = cap;
    return 0;
}

int OrvexTileDeflater::put(const unsigned char *bytes, size_t n)
{
    if (n > static_cast<size_t>(-1) - used_ || grow(used_ + n) < 0) return -1;
    memcpy(buf_ + used_, bytes, n);
    used_ += n;
    return 0;
}

// Compresses the gathered samples at once and emits the whole stream.
int OrvexTileDeflater::drain(int, int *)
{
    libdeflate_compressor *c = static_cast<libdeflate_compressor *>(codec_);
    size_t bound = libdeflate_zlib_compress_bound(c, used_);
    unsigned char *out = kept.out;
    size_t cap = kept.out_cap;
    kept.out = nullptr;
    kept.out_cap = 0;
    if (cap < bound) {
        free(out);
        out = static_cast<unsigned char *>(orvex_sys_malloc(bound));
        cap = bound;
        if (!out) return fail(1, "malloc(deflate buffer) error.");
    }
    size_t n = libdeflate_zlib_compress(c, buf_, used_, out, bound);
    int rc = n == 0 ? fail(0, "deflate() error.") : emit_(context_, out, n);
    keep_buffer(&kept.out, &kept.out_cap, out, cap);
    return rc;
}

int OrvexTileDeflater::finish()
{
    return drain(0, nullptr);
}

#endif

void *(*orvex_sys_deflater_new)(void) = new_deflater;
