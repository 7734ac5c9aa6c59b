/*
 * Deflating and inflating grid tile payloads. Every payload is one zlib
 * stream (2-byte header, Adler-32 trailer) that plain zlib inflates; the
 * library makes and reads them with libdeflate, or with zlib itself when
 * built with ORVEX_CODEC=zlib (the exact bytes older writers produced).
 * Internal to the library.
 */
#ifndef ORVEX_TILE_CODEC_H
#define ORVEX_TILE_CODEC_H

#include <stddef.h>

/* ---- Codec state, replaceable by the tests ---------------------------
 * Every deflate or inflate begins by making its codec state through these,
 * so that a test can make that fail; null means it could not be made. */
extern void *(*orvex_sys_deflater_new)(void);
extern void *(*orvex_sys_inflater_new)(void);

/* Receives the compressed bytes of a tile as the deflater produces them:
 * 0, or -1 with a message registered. */
typedef int (*OrvexEmit)(void *context, const unsigned char *bytes, size_t n);

/* One tile's zlib stream at the default level (6). The zlib build hands
 * the bytes to `emit` in pieces of at most 3600 as zlib makes them; the
 * libdeflate build gathers the samples and hands over the whole stream at
 * finish(). Messages are those of Orvex::writeTileDataGrid. */
class OrvexTileDeflater {
public:
    OrvexTileDeflater(OrvexEmit emit, void *context);
    ~OrvexTileDeflater();
    OrvexTileDeflater(const OrvexTileDeflater &) = delete;
    OrvexTileDeflater &operator=(const OrvexTileDeflater &) = delete;

    /* Prepares for a tile of about `expected` sample bytes. 0 or -1. */
    int open(size_t expected);
    /* Takes the next sample bytes. 0 or -1. */
    int put(const unsigned char *bytes, size_t n);
    /* Ends the stream and emits what is left. 0 or -1. */
    int finish();

private:
    int fail(int flag, const char *what);
    int grow(size_t need);
    int drain(int flush, int *result);

    OrvexEmit emit_;
    void *context_;
    void *codec_ = nullptr;        /* zlib's stream or libdeflate's compressor */
    unsigned char *buf_ = nullptr; /* zlib: output pieces; libdeflate: the samples */
    size_t cap_ = 0, used_ = 0;
};

/* Frees what the calling thread's deflaters keep between tiles (the
 * libdeflate build keeps its compressor and buffers; a thread's are freed
 * when it ends). Builds call it when they have written every tile. */
void orvex_tile_deflater_release(void);

/* How an inflate ended. */
enum OrvexInflateResult {
    ORVEX_INFLATE_OK,   /* the stream ended within the buffer */
    ORVEX_INFLATE_BAD,  /* damaged, cut short, or longer than the buffer */
};

/* The state of one inflate, or null when it cannot be made. Handed to
 * orvex_tile_inflate, or given back by orvex_tile_inflater_free. */
void *orvex_tile_inflater(void);
void orvex_tile_inflater_free(void *state);
/* Inflates the zlib stream of `nin` bytes at `in` into the `nout` bytes at
 * `out` and frees the state; *got receives the bytes inflated. A stream
 * that ends early leaves the rest of `out` as it was. No message is
 * registered. */
OrvexInflateResult orvex_tile_inflate(void *state, const unsigned char *in, size_t nin,
                                      unsigned char *out, size_t nout, size_t *got);

#endif
