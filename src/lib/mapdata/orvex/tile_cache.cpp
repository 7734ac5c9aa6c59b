// Grid tile retrieval and the process-wide cache of inflated tiles. The
// cache is a fixed table of entries in the order they were added, guarded
// by one mutex; it never evicts on its own, callers trim it with
// cleanCache or cleanCacheEntries, and every object's destructor empties
// it.
//
// A miss claims its entry under the mutex (a pending entry, which counts
// toward the table's limit), inflates without the mutex and publishes the
// tile under it again, so hits and other misses never wait behind an
// inflate; a second request for a pending tile waits for that tile alone.
// Hits are served from a hash index read without any lock: it changes
// only under the mutex, inside a sequence count that readers check.

#include <limits.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "OrvexInternal.h"
#include "tile_codec.h"

namespace {

const int kCacheEntries = 1000;

OrvexCache orvex_cache[kCacheEntries];
bool orvex_cache_pending[kCacheEntries];  // claimed by a miss still inflating
// Both read without the mutex by the trimming calls' quick tests.
std::atomic<int> orvex_ncache{0};
std::atomic<size_t> orvex_cache_size{0};
pthread_mutex_t orvex_cache_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t orvex_cache_settled = PTHREAD_COND_INITIALIZER;  // a pending tile was settled
int orvex_cache_waiters = 0;

struct CacheLock {
    CacheLock() { pthread_mutex_lock(&orvex_cache_mutex); }
    ~CacheLock() { pthread_mutex_unlock(&orvex_cache_mutex); }
};

// ---- The hash index --------------------------------------------------
// Open addressing with linear probing over twice the entries. A slot names
// an entry by its key, its position + 1 (0 when free) and its stream (null
// while pending). Every field is atomic so that lock-free readers may race
// with a change; the version is odd while one is under way, and a reader
// keeps what it read only when the version was even and unchanged. Fields
// are stored with release and loaded with acquire, so that a reader that
// sees any part of a change also sees the version made odd before it.
const int kIndexSlots = 2048;  // a power of two

struct IndexSlot {
    std::atomic<const Orvex *> object;
    std::atomic<int> resolution, tile, position;
    std::atomic<unsigned char *> stream;
};

IndexSlot orvex_cache_index[kIndexSlots];
std::atomic<unsigned> orvex_index_version{0};

unsigned slot_of(const Orvex *object, int resolution, int tile)
{
    unsigned long h = reinterpret_cast<unsigned long>(object) >> 4;
    h ^= static_cast<unsigned long>(static_cast<unsigned>(resolution)) * 0x9E3779B97F4A7C15UL;
    h ^= static_cast<unsigned long>(static_cast<unsigned>(tile)) * 0xC2B2AE3D27D4EB4FUL;
    h ^= h >> 29;
    return static_cast<unsigned>(h) & (kIndexSlots - 1);
}

// The slot of a key, or -1. Lock-free readers validate what it read.
int find_slot(const Orvex *object, int resolution, int tile)
{
    for (unsigned s = slot_of(object, resolution, tile);; s = (s + 1) & (kIndexSlots - 1)) {
        const IndexSlot &x = orvex_cache_index[s];
        if (x.position.load(std::memory_order_acquire) == 0) return -1;
        if (x.object.load(std::memory_order_acquire) == object &&
            x.tile.load(std::memory_order_acquire) == tile &&
            x.resolution.load(std::memory_order_acquire) == resolution)
            return static_cast<int>(s);
    }
}

// Changes to the index, made under the mutex, are bracketed by these.
void begin_change()
{
    unsigned v = orvex_index_version.load(std::memory_order_relaxed);
    orvex_index_version.store(v + 1, std::memory_order_relaxed);
}

void end_change()
{
    orvex_index_version.fetch_add(1, std::memory_order_release);
}

void index_entry(int i)
{
    const OrvexCache &e = orvex_cache[i];
    unsigned s = slot_of(e.object, e.resolution, e.tile);
    while (orvex_cache_index[s].position.load(std::memory_order_relaxed))
        s = (s + 1) & (kIndexSlots - 1);
    IndexSlot &x = orvex_cache_index[s];
    x.object.store(e.object, std::memory_order_release);
    x.resolution.store(e.resolution, std::memory_order_release);
    x.tile.store(e.tile, std::memory_order_release);
    x.stream.store(e.stream, std::memory_order_release);
    x.position.store(i + 1, std::memory_order_release);
}

void rebuild_index()
{
    begin_change();
    for (IndexSlot &x : orvex_cache_index) x.position.store(0, std::memory_order_release);
    for (int i = 0; i < orvex_ncache.load(std::memory_order_relaxed); i++) index_entry(i);
    end_change();
}

// A published tile's samples found without the mutex, or null (absent,
// pending, or the index kept changing under the reader).
unsigned char *lock_free_hit(const Orvex *object, int resolution, int tile)
{
    for (int attempt = 0; attempt < 4; attempt++) {
        unsigned v = orvex_index_version.load(std::memory_order_acquire);
        if (v & 1) continue;
        int s = find_slot(object, resolution, tile);
        unsigned char *stream = s < 0 ? nullptr : orvex_cache_index[s].stream.load(std::memory_order_acquire);
        if (orvex_index_version.load(std::memory_order_relaxed) == v) return stream;
    }
    return nullptr;
}

// ---- Entries, under the mutex -----------------------------------------

int find_entry(const Orvex *object, int resolution, int tile)
{
    int s = find_slot(object, resolution, tile);
    return s < 0 ? -1 : orvex_cache_index[s].position.load(std::memory_order_relaxed) - 1;
}

// Keeps the entries still holding a tile (or pending), in their order.
void compact()
{
    int n = orvex_ncache.load(std::memory_order_relaxed), kept = 0;
    for (int i = 0; i < n; i++) {
        if (!orvex_cache[i].stream && !orvex_cache_pending[i]) continue;
        orvex_cache[kept] = orvex_cache[i];
        orvex_cache_pending[kept++] = orvex_cache_pending[i];
    }
    for (int i = kept; i < n; i++) {
        orvex_cache[i] = OrvexCache();
        orvex_cache_pending[i] = false;
    }
    orvex_ncache.store(kept);
    rebuild_index();
}

// Frees tiles oldest first while the total is above maxbytes or more than
// maxentries entries are in use; only `self`'s unless clean_all. Pending
// entries stay: their tiles are not in the cache yet.
void trim(const Orvex *self, int clean_all, size_t maxbytes, long maxentries)
{
    long count = orvex_ncache.load(std::memory_order_relaxed);
    bool freed = false;
    for (int i = 0; i < orvex_ncache.load(std::memory_order_relaxed); i++) {
        if (orvex_cache_size.load() <= maxbytes && count <= maxentries) break;
        OrvexCache &e = orvex_cache[i];
        if (orvex_cache_pending[i] || (!clean_all && e.object != self)) continue;
        free(e.stream);
        e.stream = nullptr;
        orvex_cache_size -= e.size;
        count--;
        freed = true;
    }
    if (freed) compact();
}

// Wakes the requests waiting for a pending tile, if any.
void settled()
{
    if (orvex_cache_waiters > 0) pthread_cond_broadcast(&orvex_cache_settled);
}

// What a request found under the mutex.
enum Claim { kHit, kClaimed, kFull };

// Finds the tile, waiting while another request inflates it, or claims a
// pending entry for it at the end of the table.
Claim find_or_claim(const Orvex *object, int resolution, int tile, unsigned char **out)
{
    CacheLock lock;
    for (;;) {
        int i = find_entry(object, resolution, tile);
        if (i < 0) break;
        if (!orvex_cache_pending[i]) {
            *out = orvex_cache[i].stream;
            return kHit;
        }
        orvex_cache_waiters++;
        pthread_cond_wait(&orvex_cache_settled, &orvex_cache_mutex);
        orvex_cache_waiters--;
    }
    int n = orvex_ncache.load(std::memory_order_relaxed);
    if (n >= kCacheEntries) return kFull;
    OrvexCache &e = orvex_cache[n];
    e = OrvexCache();
    e.object = const_cast<Orvex *>(object);
    e.resolution = resolution;
    e.tile = tile;
    orvex_cache_pending[n] = true;
    orvex_ncache.store(n + 1);
    begin_change();
    index_entry(n);
    end_change();
    return kClaimed;
}

// Settles a claimed entry: publishes the inflated tile, or, with a null
// buffer, removes the entry so that the cache holds what it held before.
void settle(const Orvex *object, int resolution, int tile, unsigned char *buf, size_t size)
{
    CacheLock lock;
    int i = find_entry(object, resolution, tile);
    orvex_cache_pending[i] = false;
    if (buf) {
        orvex_cache[i].stream = buf;
        orvex_cache[i].size = size;
        orvex_cache_size += size;
        begin_change();
        orvex_cache_index[find_slot(object, resolution, tile)].stream.store(buf, std::memory_order_release);
        end_change();
    } else {
        compact();  // the entry has no stream and is no longer pending
    }
    settled();
}

// Inflates one tile's payload into a new buffer of its full size, zero
// where a short stream leaves it. Returns the buffer, or null with a
// registered message; nothing is left behind.
unsigned char *inflate_tile(const OrvexGridTile &entry, size_t size)
{
    void *inflater = orvex_tile_inflater();
    if (!inflater) {
        orvex_register_error(0, "Orvex::getTileGrid: deflateInit() error.\n");
        return nullptr;
    }
    // Only what a short stream leaves unwritten is zeroed: clearing the
    // whole buffer first would be one more pass over every tile.
    unsigned char *buf = static_cast<unsigned char *>(orvex_sys_malloc(size ? size : 1));
    if (!buf) {
        orvex_register_error(1, "Orvex::getTileGrid: malloc(stream) error.\n");
        orvex_tile_inflater_free(inflater);
        return nullptr;
    }
    size_t got = 0;
    if (orvex_tile_inflate(inflater, entry.buf, entry.nbuf, buf, size, &got) != ORVEX_INFLATE_OK) {
        orvex_register_error(0, "Orvex::getTileGrid: inflate() error.\n");
        free(buf);
        return nullptr;
    }
    if (got < size) memset(buf + got, 0, size - got);
    return buf;
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
    *out = nullptr;
    if (resolution < 0 || resolution >= frame.nresolutions) {
        orvex_register_error(0, "Orvex::getTileGrid: resolution out of range\n");
        return -1;
    }
    OrvexResolution &res = frame.resolutions[resolution];
    if (tile < 0 || tile >= res.ntiles) {
        orvex_register_error(0, "Orvex::getTileGrid: tile out of range\n");
        return -1;
    }
    if (res.map_type != ORVEX_MAP_GRID || !res.data) {
        orvex_register_error(0, "Orvex::getTileGrid: input map type must be grid\n");
        return -1;
    }
    OrvexGrid *grid = static_cast<OrvexGrid *>(res.data);
    OrvexGridTile &entry = grid->tiles[tile];
    size_t size = orvex_grid_tile_bytes(grid);
    if (!grid->compressed) {
        // Handed out in place: refuse a payload too short for the tile (for
        // example a tile declared but never written), so no caller reading
        // its samples can run past it.
        if (entry.nbuf < size || !entry.buf) {
            orvex_register_error(0,
                                 "Orvex::getTileGrid: uncompressed tile %d of resolution %d holds "
                                 "%lu bytes, fewer than the %zu of its samples\n",
                                 tile, resolution, entry.nbuf, size);
            return -1;
        }
        *out = entry.buf;
        return 0;
    }
    if (entry.nbuf > 0xFFFFFFFFUL || size > 0xFFFFFFFFUL) {
        orvex_register_error(0, "Orvex::getTileGrid: tile %d of resolution %d is too large to inflate\n",
                             tile, resolution);
        return -1;
    }

    if ((*out = lock_free_hit(this, resolution, tile))) return 0;
    Claim claim = find_or_claim(this, resolution, tile, out);
    if (claim == kHit) return 0;
    if (claim == kFull) {
        orvex_register_error(0, "Orvex::getTileGrid: Attempt to exceed max cache dimension.\n");
        return -1;
    }
    unsigned char *buf = inflate_tile(entry, size);
    settle(this, resolution, tile, buf, size);
    *out = buf;
    return buf ? 0 : -1;
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

/* Read-only views of the cache for tests and tools. */
int orvex_cache_count(void)
{
    return orvex_ncache.load();
}

size_t orvex_cache_bytes(void)
{
    return orvex_cache_size.load();
}
