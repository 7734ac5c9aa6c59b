/*
 * Internal helpers shared by the library's source files; not installed.
 * The test program links the library statically and may use them too.
 */
#ifndef ORVEX_ORVEXINTERNAL_H
#define ORVEX_ORVEXINTERNAL_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/types.h>

#include "Orvex.h"

/* ---- System calls the library makes, replaceable by the tests --------
 * Every allocation, write and seek of the library goes through these, so
 * that a test can make the n-th one fail and check that the failure is
 * registered and nothing is lost or leaked. */
extern ssize_t (*orvex_sys_write)(int fd, const void *buf, size_t n);
extern off_t (*orvex_sys_lseek)(int fd, off_t offset, int whence);
extern void *(*orvex_sys_malloc)(size_t n);
extern void *(*orvex_sys_realloc)(void *p, size_t n);

/* Zeroed allocation of n records of size bytes each through
 * orvex_sys_malloc; null when n * size overflows or memory is exhausted. */
void *orvex_calloc(size_t n, size_t size);

/* ---- Writing at a file position --------------------------------------
 * Seeks to `position`, writes the n bytes whole and seeks back to where the
 * file position was. Returns 0, ORVEX_IO_SEEK when a seek failed or
 * ORVEX_IO_WRITE when the write failed or was short; the caller registers
 * its own message (lseek() or write()) with the system error. */
enum { ORVEX_IO_OK = 0, ORVEX_IO_SEEK = -1, ORVEX_IO_WRITE = -2 };
int orvex_write_at(int fd, long position, const void *data, size_t n);
/* Registers "<who>: lseek() error." or "<who>: write() error." with the
 * system error for a failed ORVEX_IO_* code; returns -1. */
int orvex_io_failure(const char *who, int rc);
/* Writes n bytes whole at the current position: 0 or ORVEX_IO_WRITE. */
int orvex_write_all(int fd, const void *data, size_t n);
/* The current file position, or -1. */
long orvex_tell(int fd);

/* ---- Bounds-checked reads of a mapping --------------------------------
 * A cursor over the mapped file. Every read proves that it lies inside the
 * mapping before it copies; nothing is ever read past `size`. */
struct OrvexMapCursor {
    const unsigned char *base;
    long size;
    long pos;

    OrvexMapCursor(const unsigned char *b, long s, long p = 0) : base(b), size(s), pos(p) {}
    /* Bytes left after the position. */
    long remaining() const { return pos >= 0 && pos <= size ? size - pos : 0; }
    /* True when `count` records of `record_size` bytes fit from the position
     * (the product is checked for overflow). */
    bool fits(long count, long record_size) const
    {
        if (count < 0 || record_size < 0) return false;
        if (record_size != 0 && count > remaining() / record_size) return false;
        return true;
    }
    /* Copies n bytes and advances; false (nothing copied) when they do not
     * fit. */
    bool take(void *dst, long n)
    {
        if (!fits(1, n)) return false;
        memcpy(dst, base + pos, static_cast<size_t>(n));
        pos += n;
        return true;
    }
    /* Advances past count records of record_size bytes, or returns false. */
    bool skip(long count, long record_size)
    {
        if (!fits(count, record_size)) return false;
        pos += count * record_size;
        return true;
    }
};

/* True when [offset, offset + count * record_size) lies inside a mapping of
 * `size` bytes, computed without overflow. */
bool orvex_span_in_mapping(long size, unsigned long offset, unsigned long count,
                           unsigned long record_size);

/* ---- Longitude unwrapping ---------------------------------------------
 * Along a segment a running offset, a multiple of 360,000,000 microdegrees
 * starting at 0, is adjusted for every point after the first until the
 * point's longitude plus the offset lies within 180,000,000 of the previous
 * result (inclusive on both sides); the point then counts with that
 * longitude. Arithmetic is 64-bit, so no input can overflow it. */
class OrvexLonUnwrapper {
public:
    /* The unwrapped longitude of the next point of the segment. */
    long next(long x)
    {
        if (!started_) {
            started_ = true;
            last_ = x;
            return x;
        }
        long dx = x + offset_ - last_;
        while (dx > 180000000L) {
            offset_ -= 360000000L;
            dx -= 360000000L;
        }
        while (dx < -180000000L) {
            offset_ += 360000000L;
            dx += 360000000L;
        }
        last_ = x + offset_;
        return last_;
    }
    long offset() const { return offset_; }

    /* Unwraps, in place, the longitudes of n consecutive points held in host
     * order, exactly as next() would one point at a time; the loop keeps the
     * rare turn out of the way of the common step. False when a longitude
     * no longer fits 32 bits (the points before it are done). */
    bool unwrapInPlace(OrvexXY *pts, long n)
    {
        long i = 0;
        if (n > 0 && !started_) {
            started_ = true;
            last_ = pts[0].lon_microdegrees;
            i = 1;
        }
        long offset = offset_, last = last_;
        bool fits = true;
        for (; i < n; i++) {
            long x = pts[i].lon_microdegrees + offset;
            if (__builtin_expect(x - last > 180000000L || x - last < -180000000L, 0)) {
                offset_ = offset;
                last_ = last;
                x = next(pts[i].lon_microdegrees);
                offset = offset_;
            }
            if (__builtin_expect(x < INT32_MIN || x > INT32_MAX, 0)) {
                fits = false;
                break;
            }
            pts[i].lon_microdegrees = static_cast<int>(x);
            last = x;
        }
        offset_ = offset;
        last_ = last;
        return fits;
    }

private:
    bool started_ = false;
    long offset_ = 0;
    long last_ = 0;
};

/* Degrees to radians, for the mean point spacing. */
static const double ORVEX_D2R = 0.017453292519943295;

/* ---- Scanners behind Orvex::scanInput, one per data type --------------- */
int orvex_scan_map_file(Orvex *object);
int orvex_scan_raw_grid(Orvex *object, int type, Pf *pf);
int orvex_scan_gshhs(Orvex *object);
int orvex_scan_esri(Orvex *object);
/* For the scanners that build a single resolution: allocates it zeroed and
 * makes it the object's only one. Null (message registered) when memory
 * fails. */
OrvexResolution *orvex_new_scan_resolution(Orvex *object);

/* For the header writers, after their own "first need to open output file"
 * test: refuses (registering a message that begins with `who`) declaring a
 * resolution in an input opened for appending, or after tile data has been
 * written. Returns 0 when a declaration may go ahead, else -1. Tile writers
 * set OrvexPrivate::payloadWritten once they append a payload. */
int orvex_output_accepts_declaration(Orvex *o, const char *who);

/* Makes room for one more resolution at the end of an output's list and
 * returns the new slot, zeroed when it is the first; null (message
 * registered, beginning with `who`) when memory fails. The count is left
 * to the caller. */
OrvexResolution *orvex_grow_resolutions(OrvexFrame &frame, const char *who);

/* Bytes of one inflated tile of the grid: its samples times 2 (elevation)
 * or 3 (colour). */
size_t orvex_grid_tile_bytes(const OrvexGrid *grid);

/* The tile cache's entry count and total of inflated bytes. */
int orvex_cache_count(void);
size_t orvex_cache_bytes(void);
/* holdTileGrid with messages that begin with `who` (the grid tile writer
 * reports as getTileGrid, which it stands for). */
int orvex_hold_tile_as(Orvex *object, const char *who, int resolution, int tile, unsigned char **out);
/* Bytes a budget counts for each entry besides its tile's. */
size_t orvex_cache_entry_bytes(void);
/* Drops every cached tile of the object, held or not (it is going away). */
void orvex_cache_forget(const Orvex *object);

/* The most bytes a compressed tile may inflate to: it is inflated whole
 * into one buffer, and zlib counts in 32 bits. Declarations refuse larger
 * compressed tiles and readers refuse them. */
#define ORVEX_MAX_INFLATED_TILE 0xFFFFFFFFUL

/* Copies at most dst_size - 1 characters of src (null gives "") and zero
 * fills the rest of dst. */
void orvex_copy_name(char *dst, size_t dst_size, const char *src);

/* The library's access to an object's private bookkeeping. */
struct OrvexPrivate {
    static void releaseFrame(Orvex *o) { o->releaseFrame(); }
    static int adoptPoints(Orvex *o, OrvexXY *pts) { return o->adoptPoints(pts); }
    static long &endOfHeaders(Orvex *o) { return o->end_of_headers; }
    static int &payloadWritten(Orvex *o) { return o->payload_written; }
};

#endif
