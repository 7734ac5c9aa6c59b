// Grid tile retrieval and the process-wide cache of inflated tiles. The
// cache is a fixed table of entries in the order they were added, guarded
// by one mutex; it never evicts on its own, callers trim it with
// cleanCache, and every object's destructor empties it.

#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <atomic>

#include "OrvexInternal.h"

namespace {

const int kCacheEntries = 1000;

OrvexCache orvex_cache[kCacheEntries];
int orvex_ncache = 0;
// Read without the mutex by cleanCache's quick test, so kept atomic.
std::atomic<size_t> orvex_cache_size{0};
pthread_mutex_t orvex_cache_mutex = PTHREAD_MUTEX_INITIALIZER;

size_t inflated_size(const OrvexGrid *grid)
{
    size_t sample = grid->content == 1 ? 2 : 3;
    return static_cast<size_t>(grid->nlat_per_tile) * static_cast<size_t>(grid->nlon_per_tile) *
           sample;
}

// Inflates one tile's payload into a new buffer of its full size. Returns
// the buffer, or null with a registered message; nothing is left behind.
unsigned char *inflate_tile(const OrvexGridTile &entry, size_t size)
{
    z_stream zs;
    memset(&zs, 0, sizeof zs);
    if (inflateInit(&zs) != Z_OK) {
        orvex_register_error(0, "Orvex::getTileGrid: deflateInit() error.\n");
        return nullptr;
    }
    unsigned char *buf = static_cast<unsigned char *>(orvex_calloc(size ? size : 1, 1));
    if (!buf) {
        orvex_register_error(1, "Orvex::getTileGrid: malloc(stream) error.\n");
        inflateEnd(&zs);
        return nullptr;
    }
    zs.next_in = entry.buf;
    zs.avail_in = static_cast<uInt>(entry.nbuf);
    zs.next_out = buf;
    zs.avail_out = static_cast<uInt>(size);
    int rc = inflate(&zs, Z_NO_FLUSH);
    inflateEnd(&zs);
    if (rc != Z_STREAM_END) {
        orvex_register_error(0, "Orvex::getTileGrid: inflate() error.\n");
        free(buf);
        return nullptr;
    }
    return buf;
}

// An index over the entries in use, so that a hit costs a probe or two
// instead of a scan of up to 1000 entries. Open addressing with linear
// probing; a slot holds the entry's position + 1, 0 when free. Guarded by
// the cache mutex like the entries; rebuilt whenever cleanCache moves them.
const int kIndexSlots = 4096;  // a power of two, over twice the entries
unsigned short orvex_cache_index[kIndexSlots];

unsigned slot_of(const Orvex *object, int resolution, int tile)
{
    unsigned long h = reinterpret_cast<unsigned long>(object) >> 4;
    h ^= static_cast<unsigned long>(static_cast<unsigned>(resolution)) * 0x9E3779B97F4A7C15UL;
    h ^= static_cast<unsigned long>(static_cast<unsigned>(tile)) * 0xC2B2AE3D27D4EB4FUL;
    h ^= h >> 29;
    return static_cast<unsigned>(h) & (kIndexSlots - 1);
}

int find_entry(const Orvex *object, int resolution, int tile)
{
    for (unsigned s = slot_of(object, resolution, tile);; s = (s + 1) & (kIndexSlots - 1)) {
        int i = orvex_cache_index[s] - 1;
        if (i < 0) return -1;
        const OrvexCache &e = orvex_cache[i];
        if (e.object == object && e.tile == tile && e.resolution == resolution) return i;
    }
}

void index_entry(int i)
{
    const OrvexCache &e = orvex_cache[i];
    unsigned s = slot_of(e.object, e.resolution, e.tile);
    while (orvex_cache_index[s]) s = (s + 1) & (kIndexSlots - 1);
    orvex_cache_index[s] = static_cast<unsigned short>(i + 1);
}

void rebuild_index()
{
    memset(orvex_cache_index, 0, sizeof orvex_cache_index);
    for (int i = 0; i < orvex_ncache; i++) index_entry(i);
}

struct CacheLock {
    CacheLock() { pthread_mutex_lock(&orvex_cache_mutex); }
    ~CacheLock() { pthread_mutex_unlock(&orvex_cache_mutex); }
};

}  // namespace

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
    size_t size = inflated_size(grid);
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

    CacheLock lock;
    int hit = find_entry(this, resolution, tile);
    if (hit >= 0) {
        *out = orvex_cache[hit].stream;
        return 0;
    }
    if (orvex_ncache >= kCacheEntries) {
        orvex_register_error(0, "Orvex::getTileGrid: Attempt to exceed max cache dimension.\n");
        return -1;
    }
    unsigned char *buf = inflate_tile(entry, size);
    if (!buf) return -1;
    OrvexCache &e = orvex_cache[orvex_ncache];
    e.object = this;
    e.resolution = resolution;
    e.tile = tile;
    e.size = size;
    e.stream = buf;
    index_entry(orvex_ncache);
    orvex_ncache++;
    orvex_cache_size += size;
    *out = buf;
    return 0;
}

int Orvex::cleanCache(long maxsize, int clean_all)
{
    if (maxsize < 0) return 0;
    if (orvex_cache_size.load() < static_cast<size_t>(maxsize)) return 0;

    CacheLock lock;
    if (orvex_ncache < 1) return 0;
    for (int i = 0; i < orvex_ncache && orvex_cache_size.load() > static_cast<size_t>(maxsize); i++) {
        OrvexCache &e = orvex_cache[i];
        if (!clean_all && e.object != this) continue;
        free(e.stream);
        e.stream = nullptr;
        orvex_cache_size -= e.size;
    }
    // Compaction keeps the survivors in the order they were added.
    int kept = 0;
    for (int i = 0; i < orvex_ncache; i++)
        if (orvex_cache[i].stream) orvex_cache[kept++] = orvex_cache[i];
    for (int i = kept; i < orvex_ncache; i++) orvex_cache[i] = OrvexCache();
    orvex_ncache = kept;
    rebuild_index();
    return 0;
}

/* Read-only views of the cache for tests and tools. */
int orvex_cache_count(void)
{
    CacheLock lock;
    return orvex_ncache;
}

size_t orvex_cache_bytes(void)
{
    return orvex_cache_size.load();
}
