// Grid tile retrieval and the process-wide cache of inflated tiles, shared
// by every object and thread.
//
// Without a byte budget (the default) the cache behaves as it always has:
// at most 1000 entries, never evicting on its own; callers trim it with
// cleanCache or cleanCacheEntries, oldest first, and every object's
// destructor empties it. With a budget (orvex_cache_set_budget) a request
// that misses first evicts the least recently used tiles that nobody holds
// until the new tile fits, and the entries are as many as that takes.
//
// A miss claims its entry under the mutex (a pending entry, which counts
// toward the entries and reserves its bytes), inflates without the mutex
// and publishes the tile under it again, so hits and other misses never
// wait behind an inflate; a second request for a pending tile waits for
// that tile alone. Hits, holds and releases are served from a hash index
// without any lock; a hit records its use in the entry's stamp, which the
// eviction order reads later.

#include <limits.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "OrvexInternal.h"
#include "tile_cache_table.h"
#include "tile_codec.h"

namespace {

const int kCacheEntries = 1000;
// A compressed tile is inflated whole into one buffer; larger ones are
// refused when declared and when read.
const size_t kMaxInflated = ORVEX_MAX_INFLATED_TILE;
// Budgets beyond this come from negative numbers turned unsigned.
const size_t kMaxCacheBudget = 1UL << 62;

// Both read without the mutex by the trimming calls' quick tests.
std::atomic<int> orvex_ncache{0};
std::atomic<size_t> orvex_cache_size{0};
pthread_mutex_t orvex_cache_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t orvex_cache_settled = PTHREAD_COND_INITIALIZER;  // a pending tile was settled
int orvex_cache_waiters = 0;

std::atomic<size_t> budget{0};      // 0: none
// What the budget counts: every published tile's bytes and its entry's
// bookkeeping (the entry, its index slots and its place in the use order),
// so that many small tiles stay within it too; `reserved` is the same for
// pending tiles, under the mutex.
const size_t kEntryBytes = sizeof(OrvexCacheNode) + 4 * sizeof(void *);
std::atomic<size_t> charged{0};
size_t reserved = 0;
std::atomic<size_t> peak_bytes{0};  // most inflated bytes held at once
std::atomic<unsigned long> inflations{0};
std::atomic<unsigned long> use_clock{0};
OrvexCacheNode *oldest = nullptr, *newest = nullptr;  // order of addition

struct CacheLock {
    CacheLock() { pthread_mutex_lock(&orvex_cache_mutex); }
    ~CacheLock() { pthread_mutex_unlock(&orvex_cache_mutex); }
};

// Records a use. Repeated hits on the tile used last cost two loads.
void touch(OrvexCacheNode *n)
{
    unsigned long now = use_clock.load(std::memory_order_relaxed);
    if (n->stamp.load(std::memory_order_relaxed) != now)
        n->stamp.store(use_clock.fetch_add(1, std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

bool key_is(const OrvexCacheNode *n, const Orvex *object, int resolution, int tile)
{
    return n->object.load(std::memory_order_acquire) == object && n->tile.load(std::memory_order_acquire) == tile &&
           n->resolution.load(std::memory_order_acquire) == resolution;
}

// ---- Lock-free paths ----------------------------------------------------

// A published tile's samples, or null (absent, pending, or changing under
// the reader). With `hold` the tile is held on success.
unsigned char *lock_free_find(const Orvex *object, int resolution, int tile, bool hold)
{
    OrvexCacheNode *n = orvex_index_find(object, resolution, tile);
    if (!n) return nullptr;
    unsigned long s = n->state.load(std::memory_order_acquire);
    for (int attempt = 0; attempt < 4; attempt++) {
        if (!orvex_node_open(s) || !key_is(n, object, resolution, tile)) return nullptr;
        unsigned char *stream = n->stream.load(std::memory_order_acquire);
        if (hold) {
            if (!n->state.compare_exchange_weak(s, s + 1, std::memory_order_acq_rel, std::memory_order_acquire))
                continue;
        } else if (orvex_node_generation(n->state.load(std::memory_order_acquire)) != orvex_node_generation(s)) {
            return nullptr;
        }
        touch(n);
        return stream;
    }
    return nullptr;
}

// ---- Entries, under the mutex -------------------------------------------

// Closes a published entry nobody holds, so that no hold can reach it.
bool try_close(OrvexCacheNode *n)
{
    unsigned long s = n->state.load(std::memory_order_acquire);
    if (!orvex_node_open(s) || orvex_node_holds(s) != 0) return false;
    return n->state.compare_exchange_strong(s, (orvex_node_generation(s) + 1) << 32, std::memory_order_acq_rel);
}

// Closes a published entry whatever its holds (its object is going away).
void force_close(OrvexCacheNode *n)
{
    unsigned long s = n->state.load(std::memory_order_acquire);
    while (!n->state.compare_exchange_weak(s, (orvex_node_generation(s) + 1) << 32, std::memory_order_acq_rel)) {
    }
}

void unlink(OrvexCacheNode *n)
{
    (n->older ? n->older->newer : oldest) = n->newer;
    (n->newer ? n->newer->older : newest) = n->older;
    n->older = n->newer = nullptr;
    orvex_index_remove(n);
    orvex_ncache.fetch_sub(1);
    n->object.store(nullptr, std::memory_order_release);
    orvex_node_give(n);
}

// Frees a closed entry's tile and gives the entry back.
void drop(OrvexCacheNode *n)
{
    orvex_use_order_remove(n);
    free(n->stream.load(std::memory_order_relaxed));
    n->stream.store(nullptr, std::memory_order_release);
    orvex_cache_size -= n->size;
    charged -= n->size + kEntryBytes;
    unlink(n);
}

// With a budget: evicts the least recently used tiles nobody holds until
// `need` more bytes fit. Held tiles, and `spare`, are passed over and put
// back.
void evict_for(size_t need, const OrvexCacheNode *spare = nullptr)
{
    size_t b = budget.load();
    if (b == 0) return;
    OrvexCacheNode *aside = nullptr;
    while (charged.load() + reserved + need > b) {
        OrvexCacheNode *n = orvex_use_order_oldest();
        if (!n) break;
        orvex_use_order_remove(n);
        if (n != spare && try_close(n)) {
            drop(n);
            continue;
        }
        n->next_free = aside;
        aside = n;
    }
    while (aside) {
        OrvexCacheNode *next = aside->next_free;
        aside->next_free = nullptr;
        orvex_use_order_add(aside);
        aside = next;
    }
}

// Frees tiles oldest first while the total is above maxbytes or more than
// maxentries entries are in use; only `self`'s unless clean_all. Pending
// and held entries stay.
void trim(const Orvex *self, int clean_all, size_t maxbytes, long maxentries)
{
    long count = orvex_ncache.load();
    for (OrvexCacheNode *n = oldest, *next; n; n = next) {
        next = n->newer;
        if (orvex_cache_size.load() <= maxbytes && count <= maxentries) break;
        if (n->pending || (!clean_all && n->object.load(std::memory_order_relaxed) != self)) continue;
        if (!try_close(n)) continue;
        drop(n);
        count--;
    }
}

// Wakes the requests waiting for a pending tile, if any.
void settled()
{
    if (orvex_cache_waiters > 0) pthread_cond_broadcast(&orvex_cache_settled);
}

// What a request found under the mutex.
enum Claim { kHit, kClaimed, kFull, kNoMemory };

// A new pending entry for the key at the end of the order of addition.
Claim claim(const Orvex *object, int resolution, int tile, size_t size, bool hold, OrvexCacheNode **out)
{
    long n = orvex_ncache.load();
    if (!orvex_index_reserve(n + 1) || !orvex_use_order_reserve(n + 1)) return kNoMemory;
    OrvexCacheNode *e = orvex_node_take();
    if (!e) return kNoMemory;
    e->object.store(object, std::memory_order_release);
    e->resolution.store(resolution, std::memory_order_release);
    e->tile.store(tile, std::memory_order_release);
    e->size = size;
    e->pending = true;
    e->wants_hold = hold;
    e->older = newest;
    (newest ? newest->newer : oldest) = e;
    newest = e;
    orvex_index_add(e);
    orvex_ncache.fetch_add(1);
    reserved += size + kEntryBytes;
    *out = e;
    return kClaimed;
}

// Finds the tile, waiting while another request inflates it, or claims a
// pending entry for it, making room first under a budget.
Claim find_or_claim(const Orvex *object, int resolution, int tile, size_t size, bool hold,
                    OrvexCacheNode **claimed, unsigned char **out)
{
    CacheLock lock;
    for (;;) {
        OrvexCacheNode *n = orvex_index_find(object, resolution, tile);
        if (!n) break;
        if (!n->pending) {
            if (hold) n->state.fetch_add(1, std::memory_order_acq_rel);
            touch(n);
            *out = n->stream.load(std::memory_order_relaxed);
            return kHit;
        }
        orvex_cache_waiters++;
        pthread_cond_wait(&orvex_cache_settled, &orvex_cache_mutex);
        orvex_cache_waiters--;
    }
    if (budget.load() == 0 && orvex_ncache.load() >= kCacheEntries) return kFull;
    evict_for(size + kEntryBytes);
    return claim(object, resolution, tile, size, hold, claimed);
}

// Settles a claimed entry: publishes the inflated tile, or, with a null
// buffer, removes the entry so that the cache holds what it held before.
void settle(OrvexCacheNode *n, unsigned char *buf)
{
    CacheLock lock;
    n->pending = false;
    reserved -= n->size + kEntryBytes;
    if (!buf) {
        unlink(n);  // still closed: no reader ever saw it open
        settled();
        return;
    }
    n->stream.store(buf, std::memory_order_release);
    size_t total = orvex_cache_size += n->size;
    charged += n->size + kEntryBytes;
    if (total > peak_bytes.load()) peak_bytes.store(total);
    n->stamp.store(use_clock.fetch_add(1, std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    orvex_use_order_add(n);
    unsigned long s = n->state.load(std::memory_order_relaxed);
    n->state.store(((orvex_node_generation(s) + 1) << 32) | (n->wants_hold ? 1 : 0), std::memory_order_release);
    settled();
}

// Inflates one tile's payload into a new buffer of its full size, zero
// where a short stream leaves it. Returns the buffer, or null with a
// registered message; nothing is left behind.
unsigned char *inflate_tile(const char *who, const OrvexGridTile &entry, size_t size)
{
    inflations.fetch_add(1, std::memory_order_relaxed);
    void *inflater = orvex_tile_inflater();
    if (!inflater) {
        orvex_register_error(0, "%s: deflateInit() error.\n", who);
        return nullptr;
    }
    // Only what a short stream leaves unwritten is zeroed: clearing the
    // whole buffer first would be one more pass over every tile.
    unsigned char *buf = static_cast<unsigned char *>(orvex_sys_malloc(size ? size : 1));
    if (!buf) {
        orvex_register_error(1, "%s: malloc(stream) error.\n", who);
        orvex_tile_inflater_free(inflater);
        return nullptr;
    }
    size_t got = 0;
    if (orvex_tile_inflate(inflater, entry.buf, entry.nbuf, buf, size, &got) != ORVEX_INFLATE_OK) {
        orvex_register_error(0, "%s: inflate() error.\n", who);
        free(buf);
        return nullptr;
    }
    if (got < size) memset(buf + got, 0, size - got);
    return buf;
}

// The tile's index entry and grid, after the checks every request makes;
// null with a registered message.
OrvexGridTile *checked_entry(Orvex *o, const char *who, int resolution, int tile, OrvexGrid **grid)
{
    if (resolution < 0 || resolution >= o->frame.nresolutions) {
        orvex_register_error(0, "%s: resolution out of range\n", who);
        return nullptr;
    }
    OrvexResolution &res = o->frame.resolutions[resolution];
    if (tile < 0 || tile >= res.ntiles) {
        orvex_register_error(0, "%s: tile out of range\n", who);
        return nullptr;
    }
    if (res.map_type != ORVEX_MAP_GRID || !res.data) {
        orvex_register_error(0, "%s: input map type must be grid\n", who);
        return nullptr;
    }
    *grid = static_cast<OrvexGrid *>(res.data);
    return &(*grid)->tiles[tile];
}

// getTileGrid and holdTileGrid.
int fetch(Orvex *o, const char *who, int resolution, int tile, bool hold, unsigned char **out)
{
    *out = nullptr;
    OrvexGrid *grid = nullptr;
    OrvexGridTile *entry = checked_entry(o, who, resolution, tile, &grid);
    if (!entry) return -1;
    size_t size = orvex_grid_tile_bytes(grid);
    if (!grid->compressed) {
        // Handed out in place: refuse a payload too short for the tile (for
        // example a tile declared but never written), so no caller reading
        // its samples can run past it.
        if (entry->nbuf < size || !entry->buf) {
            orvex_register_error(0,
                                 "%s: uncompressed tile %d of resolution %d holds %lu bytes, fewer than "
                                 "the %zu of its samples\n",
                                 who, tile, resolution, entry->nbuf, size);
            return -1;
        }
        *out = entry->buf;
        return 0;
    }
    if (size > kMaxInflated || entry->nbuf > 0xFFFFFFFFUL) {
        orvex_register_error(0, "%s: tile %d of resolution %d is too large to inflate\n", who, tile, resolution);
        return -1;
    }

    if ((*out = lock_free_find(o, resolution, tile, hold))) return 0;
    OrvexCacheNode *claimed = nullptr;
    switch (find_or_claim(o, resolution, tile, size, hold, &claimed, out)) {
    case kHit:
        return 0;
    case kFull:
        orvex_register_error(0, "%s: Attempt to exceed max cache dimension.\n", who);
        return -1;
    case kNoMemory:
        orvex_register_error(1, "%s: malloc(entry) error.\n", who);
        return -1;
    case kClaimed:
        break;
    }
    unsigned char *buf = inflate_tile(who, *entry, size);
    settle(claimed, buf);
    *out = buf;
    return buf ? 0 : -1;
}

// Takes one hold off a published entry; true when it was the last and
// the cache is above its budget.
bool drop_hold(OrvexCacheNode *n)
{
    unsigned long s = n->state.load(std::memory_order_acquire);
    do {
        if (!orvex_node_open(s) || orvex_node_holds(s) == 0) return false;  // not held: nothing to do
    } while (!n->state.compare_exchange_weak(s, s - 1, std::memory_order_acq_rel, std::memory_order_acquire));
    size_t b = budget.load();
    return orvex_node_holds(s) == 1 && b != 0 && charged.load() > b;
}

}  // namespace

size_t orvex_grid_tile_bytes(const OrvexGrid *grid)
{
    size_t sample = grid->content == 1 ? 2 : 3;
    return static_cast<size_t>(grid->nlat_per_tile) * static_cast<size_t>(grid->nlon_per_tile) *
           sample;
}

int Orvex::getTileGrid(int resolution, int tile, unsigned char **out)
{
    return fetch(this, "Orvex::getTileGrid", resolution, tile, false, out);
}

int Orvex::holdTileGrid(int resolution, int tile, unsigned char **out)
{
    return fetch(this, "Orvex::holdTileGrid", resolution, tile, true, out);
}

int orvex_hold_tile_as(Orvex *object, const char *who, int resolution, int tile, unsigned char **out)
{
    return fetch(object, who, resolution, tile, true, out);
}

void Orvex::releaseTileGrid(int resolution, int tile)
{
    if (resolution < 0 || resolution >= frame.nresolutions) return;
    OrvexResolution &res = frame.resolutions[resolution];
    if (tile < 0 || tile >= res.ntiles || res.map_type != ORVEX_MAP_GRID || !res.data) return;
    if (!static_cast<OrvexGrid *>(res.data)->compressed) return;  // handed out in place, never held
    OrvexCacheNode *n = orvex_index_find(this, resolution, tile);
    bool shrink = false;
    if (n && key_is(n, this, resolution, tile) && orvex_node_open(n->state.load(std::memory_order_acquire))) {
        shrink = drop_hold(n);
    } else {
        // The lock-free look-up can miss while the index changes.
        CacheLock lock;
        n = orvex_index_find(this, resolution, tile);
        if (n && !n->pending) shrink = drop_hold(n);
    }
    if (!shrink) return;
    // The tile just released stays until a miss needs its room: a caller
    // that holds a tile for each row of it, a tile larger than the budget,
    // does not inflate it again for every row.
    CacheLock lock;
    n = orvex_index_find(this, resolution, tile);
    evict_for(0, n);
}

int Orvex::cleanCache(long maxsize, int clean_all)
{
    if (maxsize < 0) return 0;
    if (orvex_cache_size.load() < static_cast<size_t>(maxsize)) return 0;

    CacheLock lock;
    if (orvex_ncache.load() < 1) return 0;
    trim(this, clean_all, static_cast<size_t>(maxsize), LONG_MAX);
    return 0;
}

int Orvex::cleanCacheEntries(long maxentries, int clean_all)
{
    if (maxentries < 0) return 0;
    if (orvex_ncache.load() <= maxentries) return 0;

    CacheLock lock;
    trim(this, clean_all, static_cast<size_t>(-1), maxentries);
    return 0;
}

void orvex_cache_forget(const Orvex *object)
{
    CacheLock lock;
    for (OrvexCacheNode *n = oldest, *next; n; n = next) {
        next = n->newer;
        if (n->pending || n->object.load(std::memory_order_relaxed) != object) continue;
        force_close(n);
        drop(n);
    }
}

int orvex_cache_set_budget(size_t bytes)
{
    if (bytes > kMaxCacheBudget) {
        orvex_register_error(0, "orvex_cache_set_budget: a budget of %zu bytes is more than the %zu any "
                                "machine holds\n", bytes, kMaxCacheBudget);
        return -1;
    }
    CacheLock lock;
    budget.store(bytes);
    evict_for(0);
    return 0;
}

size_t orvex_cache_budget(void)
{
    return budget.load();
}

size_t orvex_cache_entry_bytes(void)
{
    return kEntryBytes;
}

unsigned long orvex_cache_inflations(void)
{
    return inflations.load();
}

size_t orvex_cache_peak_bytes(void)
{
    return peak_bytes.load();
}

void orvex_cache_reset_peak(void)
{
    peak_bytes.store(orvex_cache_size.load());
}

/* Read-only views of the cache for tests and tools. */
int orvex_cache_count(void)
{
    return orvex_ncache.load();
}

size_t orvex_cache_bytes(void)
{
    return orvex_cache_size.load();
}
