/*
 * The parts of the grid tile writer: the payload sink that deflates and
 * appends a tile's sample bytes, and the window sampling that makes them.
 * Internal to the library.
 */
#ifndef ORVEX_GRID_TILE_WRITER_H
#define ORVEX_GRID_TILE_WRITER_H

#include <stddef.h>
#include <zlib.h>

#include "Orvex.h"

/* Registers "Orvex::writeTileDataGrid: <what>\n" and returns -1. */
int orvex_tile_writer_fail(int flag, const char *what);

/* Gathers a tile's sample bytes in a 4196-byte buffer, flushed whenever it
 * holds more than 4192 bytes, and appends them to the file deflated into one
 * zlib stream (through a 3600-byte buffer) or as they are. */
class OrvexPayloadSink {
public:
    OrvexPayloadSink(int fd, bool compressed);
    ~OrvexPayloadSink();
    OrvexPayloadSink(const OrvexPayloadSink &) = delete;
    OrvexPayloadSink &operator=(const OrvexPayloadSink &) = delete;

    /* Prepares the zlib stream when compressing. 0 or -1 (registered). */
    int open();
    /* Appends whole samples of sample_size bytes, flushing exactly where
     * adding them one at a time would. 0 or -1 (registered). */
    int append(const unsigned char *samples, size_t nbytes, size_t sample_size);
    /* Flushes the rest and ends the zlib stream. 0 or -1 (registered). */
    int finish();
    /* Payload bytes written so far. */
    unsigned long payload_bytes() const { return payload_; }

private:
    int flush();
    int deflate_buffer();
    int write_bytes(const unsigned char *p, size_t n);

    int fd_;
    bool compressed_;
    bool stream_open_ = false;
    z_stream zs_;
    unsigned char in_[4196];
    unsigned char out_[3600];
    size_t used_ = 0;
    unsigned long payload_ = 0;
};

/* What one output tile is made from, resolved by the tile writer. */
struct OrvexTileJob {
    const OrvexResolution *s;  /* source resolution and its grid */
    const OrvexGrid *sg;
    const OrvexGrid *dg;       /* output grid */
    const unsigned char *src;  /* the source tile's samples */
    long dec, dec0, dec1;      /* factor; the window reaches dec0 back, dec1 - 1 forward */
    long ilat, ilon;           /* first source row and column, from the source origin */
    long ilat_tile_src, ilon_tile_src;
    bool swap;                 /* big-endian source elevations */
};

/* Makes every output sample of the tile and hands them to the sink, in
 * order; *zmin and *zmax receive the elevation range (-9999 when no sample
 * holds data, and for colour). 0 or -1 (registered). */
int orvex_sample_tile(const OrvexTileJob &job, OrvexPayloadSink &sink, double gamma,
                      double lightmin, long *zmin, long *zmax);

#endif
