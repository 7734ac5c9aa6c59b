/*
 * The parts of the grid tile writer: the payload sink that deflates and
 * appends a tile's sample bytes, and the window sampling that makes them.
 * Internal to the library.
 */
#ifndef ORVEX_GRID_TILE_WRITER_H
#define ORVEX_GRID_TILE_WRITER_H

#include <stddef.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "Orvex.h"
#include "tile_codec.h"

/* Registers "Orvex::writeTileDataGrid: <what>\n" and returns -1. */
int orvex_tile_writer_fail(int flag, const char *what);

/* A list of byte strings kept end to end in one block that grows by
 * doubling (through orvex_sys_realloc) and is reused after clear(). Holds a
 * tile's payload as the very writes the file would receive, or the
 * messages a worker registered. */
class OrvexChunks {
public:
    OrvexChunks() = default;
    ~OrvexChunks();
    OrvexChunks(const OrvexChunks &) = delete;
    OrvexChunks &operator=(const OrvexChunks &) = delete;

    void clear() { used_ = 0; }
    /* Gives the block back (a large one is not worth keeping for reuse). */
    void release();
    size_t capacity() const { return capacity_; }
    /* Appends one string; false (nothing kept) when memory runs out. */
    bool add(const void *p, size_t n);
    /* Walks the strings in order: *pos starts at 0; false after the last. */
    bool next(size_t *pos, const unsigned char **p, size_t *n) const;

private:
    unsigned char *data_ = nullptr;
    size_t used_ = 0, capacity_ = 0;
};

/* Gathers a tile's sample bytes in a 4196-byte buffer, flushed whenever it
 * holds more than 4192 bytes, and appends them to the file deflated into one
 * zlib stream (by OrvexTileDeflater) or as they are. */
class OrvexPayloadSink {
public:
    /* Appends to the file fd, or keeps each write in `memory` when given. */
    OrvexPayloadSink(int fd, bool compressed, OrvexChunks *memory = nullptr);
    ~OrvexPayloadSink();
    OrvexPayloadSink(const OrvexPayloadSink &) = delete;
    OrvexPayloadSink &operator=(const OrvexPayloadSink &) = delete;

    /* Prepares the deflater when compressing, for a tile of `expected`
     * sample bytes (a hint). 0 or -1 (registered). */
    int open(size_t expected = 0);
    /* Appends whole samples of sample_size bytes, flushing exactly where
     * adding them one at a time would. 0 or -1 (registered). */
    int append(const unsigned char *samples, size_t nbytes, size_t sample_size);
    /* Flushes the rest and ends the zlib stream. 0 or -1 (registered). */
    int finish();
    /* Payload bytes written so far. */
    unsigned long payload_bytes() const { return payload_; }
    /* True when a failure was the memory target running out (nothing
     * registered then). */
    bool out_of_memory() const { return out_of_memory_; }

private:
    int flush();
    int write_bytes(const unsigned char *p, size_t n);
    static int emit(void *sink, const unsigned char *p, size_t n);

    int fd_;
    bool compressed_;
    OrvexChunks *memory_;
    bool out_of_memory_ = false;
    OrvexTileDeflater deflater_;
    unsigned char in_[4196];
    size_t used_ = 0;
    unsigned long payload_ = 0;
};

/* What one output tile is made from, resolved by the tile writer. */
struct OrvexTileJob {
    const OrvexGrid *sg;       /* source grid */
    const OrvexGrid *dg;       /* output grid */
    const unsigned char *src;  /* the source tile's samples */
    long src_nlat, src_nlon;   /* rows and columns of the source tile */
    long period;               /* source columns per whole turn; 0: a region */
    long dec, dec0, dec1;      /* factor; the window reaches dec0 back, dec1 - 1 forward */
    long ilat, ilon;           /* first source row and column, from the source tile's corner */
    bool swap;                 /* big-endian source elevations */
    int src_fd = -1;           /* the file the source samples are mapped from, or -1 */
    long src_at = 0;           /* byte offset of the source tile's first sample in it */

    /* The source tile is held from prepare to the job's end, so that a
     * budgeted cache cannot evict it while it is sampled. */
    Orvex *held_input = nullptr;
    int held_resolution = 0, held_tile = 0;
    OrvexTileJob() = default;
    ~OrvexTileJob()
    {
        if (held_input) held_input->releaseTileGrid(held_resolution, held_tile);
    }
    OrvexTileJob(const OrvexTileJob &) = delete;
    OrvexTileJob &operator=(const OrvexTileJob &) = delete;
};

/* Makes every output sample of the tile and hands them to the sink, in
 * order; *zmin and *zmax receive the elevation range (-9999 when no sample
 * holds data, and for colour). 0 or -1 (registered). */
int orvex_sample_tile(const OrvexTileJob &job, OrvexPayloadSink &sink, double gamma,
                      double lightmin, long *zmin, long *zmax);

/* How far a window reaches around its sample for factor dec: dec0 rows
 * back, dec1 - 1 forward. Odd factors: a window of dec samples; even ones:
 * dec + 1, centred. */
inline void orvex_window_reach(long dec, long *dec0, long *dec1)
{
    *dec0 = dec % 2 ? dec / 2 : (dec + 1) / 2;
    *dec1 = dec % 2 ? dec / 2 + 1 : *dec0 + 1;
}

/* The rows of a fed input that tile `tile` of an output resolution reads:
 * true with *input and [*row0, *row1) set when the resolution's source is
 * fed (the range may be empty), false otherwise. Registers nothing. */
bool orvex_grid_tile_fed_rows(Orvex *o, int output_resolution, long tile, Orvex **input, long *row0,
                              long *row1);

/* The fed rows a build holds: supplied ahead of the tiles that read them,
 * released behind the last tile written. The tiles of a pass (one
 * resolution, or the resolutions taken band by band) come in an order
 * whose rows only move forward; the next pass starts from the top once
 * every earlier tile is written (its first tile waits for that in a
 * parallel build). */
class OrvexFedRows {
public:
    OrvexFedRows() = default;
    ~OrvexFedRows() { release_all(); }
    OrvexFedRows(const OrvexFedRows &) = delete;
    OrvexFedRows &operator=(const OrvexFedRows &) = delete;

    /* Before tile `tile` of output resolution r is made: supplies the rows
     * it reads that are not held. 0, or -1 with the feed's reason and
     * "Orvex::writeTileDataGrid: cannot supply rows ..." registered. With
     * `turn` (0, 1, 2, ... in the order the tiles are written), it waits
     * for every earlier turn to be over, so that threads making tiles side
     * by side ask the feed for the same rows as one thread does. */
    int acquire(Orvex *o, int r, long tile, long turn = -1);
    /* A turn whose tile reads no fed rows. */
    void skip_turn(long turn);
    /* After tile `tile` is written, `keep_from` being the first row any
     * later tile of the pass reads (-1 when none does): releases the rows
     * below it, or all of them. */
    void written(Orvex *o, int r, long tile, long keep_from);
    void release_all();

private:
    void release(long row0, long row1);

    int supply(Orvex *o, int r, long tile);

    std::mutex mutex_;
    std::condition_variable turns_;
    long turn_ = 0;           // the turn whose tile may be supplied now
    Orvex *input_ = nullptr;  // whose rows [lo_, hi_) are held
    long lo_ = 0, hi_ = 0;
};

/* The order a build writes its tiles in: resolution after resolution,
 * but consecutive grid resolutions sampling the same raw grid (one
 * uncompressed source tile) band by band, their rows of tiles in the order
 * of the first source row each stands for. */
class OrvexTileOrder {
public:
    explicit OrvexTileOrder(Orvex *o);
    /* The next tile; false after the last. */
    bool next(int *r, long *t);
    /* Of the tile next() gave: the source rows its row of tiles stands for
     * begin at band_start(), the next row's at band_end(). */
    long band_start() const;
    long band_end() const;
    /* The first fed row a tile after the one next() gave reads, in the
     * same pass; -1 when none does. */
    long keep_from() const;
    /* True when the tile next() gave starts a pass over its source. */
    bool pass_start() const { return first_; }
    /* True when its payload waits for the pass's first resolution: it
     * belongs to a later resolution of a band-by-band pass. */
    bool deferred() const { return g1_ - g0_ > 1 && cur_r_ != g0_; }

private:
    long per_row(int r) const;
    long rows(int r) const;
    long row_start(int r, long i) const;
    bool next_group();

    Orvex *o_;
    std::vector<long> row_;  // per resolution of the pass: its next row of tiles
    int g0_ = 0, g1_ = 0;    // the resolutions of the current pass
    int cur_r_ = 0;
    long cur_t_ = 0, left_ = 0;  // the last tile given; tiles left in its row
    bool fresh_ = false, first_ = false;  // a pass begun and its first tile not given; given
};

/* Tiles made without reading their source, which lay in a hole of its
 * file (counted for tests). */
extern std::atomic<long> orvex_tiles_from_holes;

/* The steps of writing one tile, shared by the tile writer and the
 * parallel build. Each returns 0 or -1 with its message registered. */
/* The first input registered for an output resolution, or null (no
 * message). */
const OrvexInput *orvex_grid_registered_input(Orvex *o, int output_resolution);
/* Every test before the payload, up to the source samples. */
int orvex_grid_tile_prepare(Orvex *o, int output_resolution, int output_tile, OrvexTileJob *job,
                            OrvexGridTile **entry);
/* Points the index entry at the payload's start, the current end of file. */
int orvex_grid_mark_payload_start(Orvex *o, const OrvexGridTile &entry);
/* Stores size and elevation range in the index entry, back at the end. */
int orvex_grid_complete_entry(Orvex *o, const OrvexGridTile &entry, unsigned long nbuf, long zmin,
                              long zmax);

/* writeTileDataGrid without supplying fed rows: the build holds them. */
int orvex_write_tile_grid(Orvex *o, int output_resolution, int output_tile, double gamma, double lightmin);
/* The same tile's payload appended to `fd` instead, its index entry left
 * for the caller to fill: *entry, *nbuf, *zmin and *zmax say what to. */
int orvex_make_tile_grid(Orvex *o, int output_resolution, int output_tile, double gamma, double lightmin, int fd,
                         OrvexGridTile **entry, unsigned long *nbuf, long *zmin, long *zmax);

/* Payloads of the later resolutions of a band-by-band pass, held in an
 * unlinked scratch file until the pass is made, then appended to the map
 * in resolution and tile order with their index entries filled: the file
 * is laid out as a build of one resolution after another lays it out. */
class OrvexDeferredPayloads {
public:
    OrvexDeferredPayloads() = default;
    ~OrvexDeferredPayloads();
    OrvexDeferredPayloads(const OrvexDeferredPayloads &) = delete;
    OrvexDeferredPayloads &operator=(const OrvexDeferredPayloads &) = delete;

    /* Keeps a payload made in memory. 0 or -1 (registered). */
    int keep(int r, long t, OrvexGridTile *entry, const OrvexChunks &payload, long zmin, long zmax);
    /* Makes tile t of resolution r straight into the scratch file. */
    int make(Orvex *o, int r, long t, double gamma, double lightmin);
    /* Appends every payload kept to the map. 0 or -1 (registered). */
    int flush(Orvex *o);
    bool empty() const { return kept_.empty(); }

private:
    struct Kept {
        int r;
        long t;
        OrvexGridTile *entry;
        off_t at;  // in the scratch file
        unsigned long nbuf;
        long zmin, zmax;
    };
    int open_scratch();
    int copy(Orvex *o, const Kept &k, unsigned char *buf);

    int fd_ = -1;
    off_t end_ = 0;
    std::vector<Kept> kept_;
};

/* A whole build: writeDataGrid writes grid tiles only, writeData vector
 * tiles too (made by the writing thread itself, in their turn). */
struct OrvexBuildRun {
    double gamma = 1.0, lightmin = 0.0;
    bool mixed = false;
    long cache_budget = -1;  /* trims the cache to this when turning to another source; < 0: never */
    void (*progress)(void *, long, long) = nullptr;
    void *progress_arg = nullptr;
    bool failed_vector = false;  /* out: the failing tile was a vector tile */
};

/* Writes every tile of every resolution with `workers` threads making the
 * grid payloads, the calling thread writing them in tile order. Same file,
 * same register as writing them one by one. 0, -1 (the failing tile's
 * messages registered, not the caller's), or 1 when no thread or memory
 * could be had for it and nothing was done. */
int orvex_write_tiles_parallel(Orvex *o, OrvexBuildRun *run, int workers);
/* The same, one tile after the other on the calling thread. */
int orvex_write_tiles_in_turn(Orvex *o, OrvexBuildRun *run);
/* After tile `tile` of an output resolution is written: when it ends a row
 * of tiles, gives back the resident pages of the resolution's source
 * mapping, if the library made that mapping and it is larger than
 * orvex_source_release_above bytes (tests lower it). */
void orvex_release_source_pages(Orvex *o, int output_resolution, long tile);
extern long orvex_source_release_above;
/* Threads for building the object's tiles: ORVEX_THREADS when set to a
 * count, else the hardware's, at most 8; never more than the tiles. */
int orvex_grid_worker_count(const Orvex *o);

#endif
