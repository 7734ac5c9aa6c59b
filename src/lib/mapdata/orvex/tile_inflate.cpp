// Inflating one tile payload in one call, straight into its final buffer,
// with the backend chosen at build time. A stream that ends before the
// buffer is full is accepted; one that would run past it is refused.

#include <stdlib.h>

#include "tile_codec.h"

#ifdef ORVEX_CODEC_ZLIB

#include <zlib.h>

namespace {

void *new_inflater()
{
    z_stream *zs = static_cast<z_stream *>(calloc(1, sizeof(z_stream)));
    if (zs && inflateInit(zs) != Z_OK) {
        free(zs);
        return nullptr;
    }
    return zs;
}

OrvexInflateResult run(void *state, const unsigned char *in, size_t nin, unsigned char *out, size_t nout,
                       size_t *got)
{
    z_stream *zs = static_cast<z_stream *>(state);
    zs->next_in = const_cast<unsigned char *>(in);
    zs->avail_in = static_cast<uInt>(nin);
    zs->next_out = out;
    zs->avail_out = static_cast<uInt>(nout);
    // One call: a stream that has not ended once the buffer is full is
    // longer than the tile.
    int rc = inflate(zs, Z_NO_FLUSH);
    *got = nout - zs->avail_out;
    return rc == Z_STREAM_END ? ORVEX_INFLATE_OK : ORVEX_INFLATE_BAD;
}

void free_inflater(void *state)
{
    inflateEnd(static_cast<z_stream *>(state));
    free(state);
}

}  // namespace

#else

#include <libdeflate.h>

namespace {

void *new_inflater()
{
    return libdeflate_alloc_decompressor();
}

OrvexInflateResult run(void *state, const unsigned char *in, size_t nin, unsigned char *out, size_t nout,
                       size_t *got)
{
    libdeflate_decompressor *d = static_cast<libdeflate_decompressor *>(state);
    // Asking for the size actually inflated lets a short stream succeed
    // (zlib's behaviour) instead of failing as LIBDEFLATE_SHORT_OUTPUT; a
    // stream longer than the buffer ends as LIBDEFLATE_INSUFFICIENT_SPACE.
    *got = 0;
    libdeflate_result rc = libdeflate_zlib_decompress(d, in, nin, out, nout, got);
    return rc == LIBDEFLATE_SUCCESS ? ORVEX_INFLATE_OK : ORVEX_INFLATE_BAD;
}

void free_inflater(void *state)
{
    libdeflate_free_decompressor(static_cast<libdeflate_decompressor *>(state));
}

}  // namespace

#endif

void *(*orvex_sys_inflater_new)(void) = new_inflater;

void *orvex_tile_inflater(void)
{
    return orvex_sys_inflater_new();
}

void orvex_tile_inflater_free(void *state)
{
    if (state) free_inflater(state);
}

OrvexInflateResult orvex_tile_inflate(void *state, const unsigned char *in, size_t nin, unsigned char *out,
                                      size_t nout, size_t *got)
{
    *got = 0;
    OrvexInflateResult rc = run(state, in, nin, out, nout, got);
    free_inflater(state);
    return rc;
}
