// Building every grid tile of an output on several threads. Deflate takes
// most of a build's time, so worker threads prepare, sample and deflate
// tiles into memory, while the calling thread alone touches the file: it
// takes the payloads in tile order and makes the very writes, seeks and
// index patches a tile-by-tile build makes. Vector tiles of a mixed build
// are written by the calling thread itself when their turn comes. The file, its final position
// and the error register therefore come out the same. The payloads waiting
// to be written are bounded in bytes, whatever the tile size: a tile too
// large for the ring is made by the calling thread itself in its turn,
// straight into the file. Tiles are taken in the build's tile order (the
// resolutions sampling one raw grid band by band); payloads of a pass's
// later resolutions wait in a scratch file and follow its first
// resolution's, so the layout is that of one resolution after another.
// Rows of a fed source are supplied in that order, by the worker that
// first needs them, and released as the tiles are written.
//
// Messages a worker registers land in its own thread's register; they are
// carried in the tile's slot and registered again by the calling thread
// when the tile's turn comes, where a tile-by-tile build would have
// registered them.

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "OrvexInternal.h"
#include "grid_tile_writer.h"
#include "tile_codec.h"

namespace {

const long kSlotsPerWorker = 4;
const size_t kRingBytes = 128u << 20;  // payloads made and not yet written
const size_t kKeepPayload = 8u << 20;  // a slot keeps a block this large for the next tile
const long kMaxWorkers = 64;         // ORVEX_THREADS beyond this is taken as this
const unsigned kDefaultMaxWorkers = 8;

// How a worker left a tile.
enum Outcome {
    kMade,           // the payload is complete
    kPrepareFailed,  // failed before the payload: only its messages to register
    kSampleFailed,   // failed part way: the payload so far, then the messages
    kRedo,           // the worker's buffers ran out of memory: the writer makes the tile itself
    kVector,         // a vector tile: the writer writes it in its turn
    kDirect,         // too large for the ring: the writer makes the tile itself
};

struct Slot {
    int resolution = 0;
    int tile = 0;
    long turn = 0;       // its number in the order tiles are written
    long band = 0, band_end = 0;  // the first source rows its row of tiles and the next stand for
    long keep_from = -1; // the first fed row a later tile of its pass reads
    bool trims = false;  // the next tile turns to another cached source, or none follows
    bool deferred = false;     // its payload waits for the pass's first resolution
    bool ends_pass = false;    // the last tile of its pass: the waiting payloads follow it
    bool done = false;  // made by a worker, not yet taken by the writer
    size_t bytes = 0;   // what the tile counts against the ring
    Outcome outcome = kMade;
    int error = 0;      // errno as the tile failed
    long zmin = ORVEX_NODATA, zmax = ORVEX_NODATA;
    OrvexGridTile *entry = nullptr;
    OrvexChunks payload;   // the writes of the payload, in order
    OrvexChunks messages;  // what the worker registered for the tile
};

template <class T>
T *new_array(size_t n)
{
    T *a = static_cast<T *>(orvex_calloc(n, sizeof(T)));
    if (a)
        for (size_t i = 0; i < n; i++) new (&a[i]) T();
    return a;
}

template <class T>
void delete_array(T *a, size_t n)
{
    if (!a) return;
    for (size_t i = 0; i < n; i++) a[i].~T();
    free(a);
}

long tiles_in_all(const Orvex *o)
{
    long n = 0;
    for (int r = 0; r < o->frame.nresolutions; r++)
        if (o->frame.resolutions[r].ntiles > 0) n += o->frame.resolutions[r].ntiles;
    return n;
}

// The compressed source tile the tiles of resolution r read through the
// cache; a null input when they read none (or the registry is unusable, in
// which case every one of them fails before reading).
struct CachedSource {
    const Orvex *input = nullptr;
    int resolution = -1, tile = -1;
    bool operator==(const CachedSource &b) const
    {
        return input == b.input && resolution == b.resolution && tile == b.tile;
    }
};

CachedSource cached_source(Orvex *o, int r)
{
    CachedSource c;
    const OrvexInput *in = orvex_grid_registered_input(o, r);
    if (!in || in->resolution < 0 || in->resolution >= in->input->frame.nresolutions) return c;
    const OrvexResolution &s = in->input->frame.resolutions[in->resolution];
    if (s.map_type != ORVEX_MAP_GRID || !s.data || !static_cast<OrvexGrid *>(s.data)->compressed)
        return c;
    c.input = in->input;
    c.resolution = in->resolution;
    c.tile = in->tile;
    return c;
}

// What a tile's payload may take in memory: its samples (a deflated one
// is smaller but for a few bytes of framing).
size_t payload_estimate(const Orvex *o, int r)
{
    const OrvexResolution &res = o->frame.resolutions[r];
    if (res.map_type != ORVEX_MAP_GRID || !res.data) return 0;
    size_t raw = orvex_grid_tile_bytes(static_cast<const OrvexGrid *>(res.data));
    return raw + raw / 64 + 4096;
}

// Writes a payload kept in memory, one write per kept chunk.
int write_chunks(int fd, const OrvexChunks &chunks, unsigned long *nbuf)
{
    *nbuf = 0;
    size_t pos = 0, n;
    const unsigned char *p;
    while (chunks.next(&pos, &p, &n)) {
        if (orvex_write_all(fd, p, n) != ORVEX_IO_OK) return orvex_tile_writer_fail(1, "write() error.");
        *nbuf += n;
    }
    return 0;
}

void register_again(const OrvexChunks &messages)
{
    size_t pos = 0, n;
    const unsigned char *p;
    while (messages.next(&pos, &p, &n))
        orvex_register_error(0, "%.*s", static_cast<int>(n), reinterpret_cast<const char *>(p));
}

class ParallelBuild {
public:
    ParallelBuild(Orvex *o, OrvexBuildRun *run)
        : o_(o), run_(run), gamma_(run->gamma), lightmin_(run->lightmin), order_(o)
    {
    }
    ~ParallelBuild()
    {
        delete_array(slots_, static_cast<size_t>(nslots_));
        free(drain_);
        free(fed_source_);
    }
    ParallelBuild(const ParallelBuild &) = delete;
    ParallelBuild &operator=(const ParallelBuild &) = delete;

    // False when the bookkeeping cannot be had; nothing is registered.
    bool setup(int workers);
    // 0 or -1 (registered); 1 when no worker thread could be started and
    // nothing was done.
    int run(int workers);

private:
    void work();
    bool may_claim() const;
    void advance_cursor();
    void make(Slot &s);
    Outcome make_payload(Slot &s);
    bool keep_messages(Slot &s);
    int write_all();
    int write(Slot &s);
    int write_now(Slot &s);
    int defer(Slot &s);
    void after_tile(const Slot &s, long written);
    size_t ring_share(int r) const;
    bool within_two_rows() const;

    Orvex *o_;
    OrvexBuildRun *run_;
    double gamma_, lightmin_;
    std::mutex mutex_;
    std::condition_variable wake_workers_, wake_writer_;
    Slot *slots_ = nullptr;  // tile number k uses slot k % nslots_
    long nslots_ = 0;
    bool *drain_ = nullptr;  // per resolution: its first tile waits until all before are written
    bool *fed_source_ = nullptr;  // per resolution: reads a fed input
    long total_ = 0;
    long claimed_ = 0;       // tiles handed to workers, in tile order
    long written_ = 0;       // tiles the writer is done with
    long limit_ = 0;         // no tile from here on is handed out: an earlier one failed
    OrvexTileOrder order_;   // the tiles in the order they are written
    bool cursor_ok_ = false; // a tile number claimed_ exists
    int cursor_r_ = 0;       // resolution and tile of tile number claimed_
    long cursor_t_ = -1;
    bool cursor_drains_ = false;  // it waits until every earlier tile is written
    bool cursor_deferred_ = false;
    OrvexDeferredPayloads deferred_;
    long cursor_band_ = 0, cursor_band_end_ = 0, cursor_keep_ = -1;
    size_t held_ = 0;        // ring bytes of the tiles claimed and not yet written
    bool stop_ = false;
    OrvexFedRows fed_;
};

bool ParallelBuild::setup(int workers)
{
    total_ = limit_ = tiles_in_all(o_);
    nslots_ = workers * kSlotsPerWorker;
    slots_ = new_array<Slot>(static_cast<size_t>(nslots_));
    drain_ = static_cast<bool *>(orvex_calloc(static_cast<size_t>(o_->frame.nresolutions), sizeof(bool)));
    fed_source_ = static_cast<bool *>(orvex_calloc(static_cast<size_t>(o_->frame.nresolutions), sizeof(bool)));
    if (!slots_ || !drain_ || !fed_source_) return false;
    // The first tile of a resolution that reads another compressed source
    // tile waits for every earlier tile: the cache then sees the requests
    // of a tile-by-tile build in the same order, and a failed build leaves
    // no source tile in it that such a build would not have read.
    CachedSource previous;
    for (int r = 0; r < o_->frame.nresolutions; r++) {
        if (o_->frame.resolutions[r].ntiles <= 0) continue;
        CachedSource c = cached_source(o_, r);
        Orvex *fed;
        long a, b;
        // A fed source starts a new pass over its rows with every pass of the
        // tile order (one resolution, or several taken band by band).
        fed_source_[r] = orvex_grid_tile_fed_rows(o_, r, 0, &fed, &a, &b);
        drain_[r] = (c.input && !(c == previous)) || fed_source_[r];
        previous = c;
    }
    advance_cursor();
    return true;
}

// A fed source is read in one pass for the resolutions taken together: only
// the first tile of the pass waits.
void ParallelBuild::advance_cursor()
{
    cursor_ok_ = order_.next(&cursor_r_, &cursor_t_);
    if (!cursor_ok_) return;
    cursor_drains_ = cursor_t_ == 0 && drain_[cursor_r_] && (!fed_source_[cursor_r_] || order_.pass_start());
    cursor_band_ = order_.band_start();
    cursor_band_end_ = order_.band_end();
    cursor_keep_ = order_.keep_from();
    cursor_deferred_ = order_.deferred();
}

// Ring bytes of a tile of resolution r: none for one the writer makes.
size_t ParallelBuild::ring_share(int r) const
{
    size_t bytes = payload_estimate(o_, r);
    return bytes > kRingBytes / 2 ? 0 : bytes;
}

bool ParallelBuild::may_claim() const
{
    if (claimed_ - written_ >= nslots_) return false;  // every slot is taken
    if (held_ + ring_share(cursor_r_) > kRingBytes) return false;
    if (written_ < claimed_ && fed_source_[cursor_r_] && !within_two_rows()) return false;
    return !cursor_drains_ || written_ == claimed_;
}

// A fed source holds the rows of the tiles in flight: they may span the
// band of the tile being written and the next one, no further.
bool ParallelBuild::within_two_rows() const
{
    const Slot &oldest = slots_[written_ % nslots_];
    return cursor_band_ <= oldest.band_end;
}

int ParallelBuild::run(int workers)
{
    std::thread *threads = new_array<std::thread>(static_cast<size_t>(workers));
    if (!threads) return 1;
    int started = 0;
    for (; started < workers; started++) {
        try {
            threads[started] = std::thread(&ParallelBuild::work, this);
        } catch (...) {
            break;  // go on with those that started
        }
    }
    int rc = started > 0 ? write_all() : 1;
    int error = errno;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_workers_.notify_all();
    for (int i = 0; i < started; i++) threads[i].join();
    delete_array(threads, static_cast<size_t>(workers));
    errno = error;  // the failure's system error, for the caller's message
    return rc;
}

void ParallelBuild::work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_workers_.wait(lock, [this] { return stop_ || claimed_ >= limit_ || may_claim(); });
        if (stop_ || claimed_ >= limit_) return;
        long k = claimed_++;
        Slot &s = slots_[k % nslots_];
        s.resolution = cursor_r_;
        s.tile = static_cast<int>(cursor_t_);
        s.turn = k;
        s.bytes = ring_share(cursor_r_);
        s.band = cursor_band_;
        s.band_end = cursor_band_end_;
        s.keep_from = cursor_keep_;
        s.deferred = cursor_deferred_;
        held_ += s.bytes;
        advance_cursor();
        s.trims = !cursor_ok_ || cursor_drains_;
        s.ends_pass = !cursor_ok_ || order_.pass_start();
        lock.unlock();
        make(s);
        lock.lock();
        s.done = true;
        wake_writer_.notify_one();
        if ((s.outcome == kPrepareFailed || s.outcome == kSampleFailed) && k + 1 < limit_) {
            limit_ = k + 1;  // a tile-by-tile build stops here
            wake_workers_.notify_all();
        }
    }
}

void ParallelBuild::make(Slot &s)
{
    s.payload.clear();
    s.messages.clear();
    s.zmin = s.zmax = ORVEX_NODATA;
    elog_clear_register(0);  // this worker's own register
    s.outcome = make_payload(s);
    s.error = errno;
    if (!keep_messages(s)) s.outcome = kRedo;
    elog_clear_register(0);
}

// A tile's work up to the file, in the order of writeTileDataGrid.
Outcome ParallelBuild::make_payload(Slot &s)
{
    if (run_->mixed && o_->frame.resolutions[s.resolution].map_type == ORVEX_MAP_VECTOR) {
        fed_.skip_turn(s.turn);
        return kVector;
    }
    if (fed_.acquire(o_, s.resolution, s.tile, s.turn) < 0) return kPrepareFailed;
    if (payload_estimate(o_, s.resolution) > kRingBytes / 2) return kDirect;
    OrvexTileJob job;
    if (orvex_grid_tile_prepare(o_, s.resolution, s.tile, &job, &s.entry) < 0) return kPrepareFailed;
    OrvexPayloadSink sink(-1, job.dg->compressed != 0, &s.payload);
    if (sink.open(orvex_grid_tile_bytes(job.dg)) < 0) return kPrepareFailed;
    if (orvex_sample_tile(job, sink, gamma_, lightmin_, &s.zmin, &s.zmax) < 0 || sink.finish() < 0)
        return sink.out_of_memory() ? kRedo : kSampleFailed;
    return kMade;
}

bool ParallelBuild::keep_messages(Slot &s)
{
    for (int i = 0; i < elog_count(); i++) {
        const char *m = elog_message(i);
        if (m && !s.messages.add(m, strlen(m))) return false;
    }
    return true;
}

int ParallelBuild::write_all()
{
    for (long k = 0; k < total_; k++) {
        Slot &s = slots_[k % nslots_];
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_writer_.wait(lock, [&s] { return s.done; });
        }
        int rc = write(s);
        int error = errno;
        if (rc < 0) run_->failed_vector = s.outcome == kVector;
        else after_tile(s, k + 1);
        {
            // A failed tile is not counted as written: a resolution waiting
            // for every earlier tile must not start reading its source.
            std::lock_guard<std::mutex> lock(mutex_);
            s.done = false;
            held_ -= s.bytes;
            if (rc < 0)
                stop_ = true;
            else
                written_++;
        }
        if (s.payload.capacity() > kKeepPayload) s.payload.release();
        wake_workers_.notify_all();
        errno = error;
        if (rc < 0) return -1;
    }
    return 0;
}

// Reports progress and, when the next tile turns to another source tile,
// trims the cache: every tile before it is written and none after it is
// handed out yet, so no worker holds a cached tile.
void ParallelBuild::after_tile(const Slot &s, long written)
{
    if (run_->progress) run_->progress(run_->progress_arg, written, total_);
    orvex_release_source_pages(o_, s.resolution, s.tile);
    fed_.written(o_, s.resolution, s.tile, s.keep_from);
    if (run_->cache_budget >= 0 && s.trims) o_->cleanCache(run_->cache_budget, 1);
}

// The file's part of the tile, as writeTileDataGrid does it; after the
// last tile of a pass, the payloads that waited for it.
int ParallelBuild::write(Slot &s)
{
    int rc = s.deferred ? defer(s) : write_now(s);
    if (rc == 0 && s.ends_pass) rc = deferred_.flush(o_);
    return rc;
}

int ParallelBuild::defer(Slot &s)
{
    int rc = s.outcome == kRedo || s.outcome == kDirect
                 ? deferred_.make(o_, s.resolution, s.tile, gamma_, lightmin_)
             : s.outcome == kMade ? deferred_.keep(s.resolution, s.tile, s.entry, s.payload, s.zmin, s.zmax)
                                  : 0;
    if (rc < 0 || s.outcome == kRedo || s.outcome == kDirect) return rc;
    register_again(s.messages);
    if (s.outcome == kMade) return 0;
    errno = s.error;
    return -1;
}

int ParallelBuild::write_now(Slot &s)
{
    if (s.outcome == kVector) return o_->writeTileDataVector(s.resolution, s.tile);
    if (s.outcome == kRedo || s.outcome == kDirect)
        return orvex_write_tile_grid(o_, s.resolution, s.tile, gamma_, lightmin_);
    if (s.outcome != kPrepareFailed) {
        unsigned long nbuf;
        if (orvex_grid_mark_payload_start(o_, *s.entry) < 0) return -1;
        if (write_chunks(o_->fd, s.payload, &nbuf) < 0) return -1;
        if (s.outcome == kMade && orvex_grid_complete_entry(o_, *s.entry, nbuf, s.zmin, s.zmax) < 0)
            return -1;
    }
    register_again(s.messages);
    if (s.outcome == kMade) return 0;
    errno = s.error;
    return -1;
}

}  // namespace

int orvex_grid_worker_count(const Orvex *o)
{
    int saved = errno;  // a build's messages carry errno: leave it alone
    long n = 0;
    const char *env = getenv("ORVEX_THREADS");
    if (env && *env) {
        char *end;
        long v = strtol(env, &end, 10);
        if (*end == '\0' && v >= 1) n = v < kMaxWorkers ? v : kMaxWorkers;
    }
    if (n == 0) {
        unsigned hw = std::thread::hardware_concurrency();
        n = hw < 1 ? 1 : hw > kDefaultMaxWorkers ? kDefaultMaxWorkers : hw;
    }
    long tiles = tiles_in_all(o);
    errno = saved;
    return static_cast<int>(n < tiles ? n : tiles > 1 ? tiles : 1);
}

int orvex_write_tiles_parallel(Orvex *o, OrvexBuildRun *run, int workers)
{
    int saved = errno;
    int rc = 1;
    {
        ParallelBuild build(o, run);
        if (build.setup(workers)) rc = build.run(workers);
    }
    orvex_tile_deflater_release();  // the tiles the writer made itself
    if (rc > 0) errno = saved;  // nothing was done
    return rc;
}

int orvex_write_tiles_in_turn(Orvex *o, OrvexBuildRun *run)
{
    long total = tiles_in_all(o), done = 0;
    OrvexFedRows fed;
    OrvexTileOrder order(o);
    OrvexDeferredPayloads deferred;
    int r;
    long t;
    while (order.next(&r, &t)) {
        bool vector = run->mixed && o->frame.resolutions[r].map_type == ORVEX_MAP_VECTOR;
        int rc = order.pass_start() ? deferred.flush(o) : 0;
        if (rc == 0)
            rc = vector                       ? o->writeTileDataVector(r, static_cast<int>(t))
                 : fed.acquire(o, r, t) < 0 ? -1
                 : order.deferred()          ? deferred.make(o, r, t, run->gamma, run->lightmin)
                                             : orvex_write_tile_grid(o, r, static_cast<int>(t), run->gamma, run->lightmin);
        if (rc < 0) {
            run->failed_vector = vector;
            orvex_tile_deflater_release();
            return -1;
        }
        if (run->progress) run->progress(run->progress_arg, ++done, total);
        if (!vector) orvex_release_source_pages(o, r, t);
        if (!vector) fed.written(o, r, t, order.keep_from());
        if (run->cache_budget >= 0) o->cleanCache(run->cache_budget, 1);
    }
    orvex_tile_deflater_release();
    return deferred.flush(o);
}
