// The tile cache's entries, its lock-free hash index and its order of last
// use. Entries and index tables are never freed while the process runs:
// lock-free readers may still be looking at them (both are bounded by the
// most entries the cache ever had, twice over for the tables).

#include <new>

#include "OrvexInternal.h"
#include "tile_cache_table.h"

namespace {

// ---- Entries -----------------------------------------------------------

const int kChunkNodes = 64;

struct NodeChunk {
    NodeChunk *next;
    OrvexCacheNode nodes[kChunkNodes];
};

NodeChunk *chunks = nullptr;  // every chunk made, kept reachable
OrvexCacheNode *free_nodes = nullptr;

bool add_chunk()
{
    void *p = orvex_sys_malloc(sizeof(NodeChunk));
    if (!p) return false;
    NodeChunk *c = new (p) NodeChunk();
    c->next = chunks;
    chunks = c;
    for (int i = kChunkNodes - 1; i >= 0; i--) orvex_node_give(&c->nodes[i]);
    return true;
}

// ---- The hash index ----------------------------------------------------
// Open addressing with linear probing, at most half full; a slot holds an
// entry or null. Deletion shifts later entries of the run back, so a run
// never has holes; a reader racing with a change may miss an entry (it then
// asks under the lock) but never loops, since every table keeps free slots.

struct IndexTable {
    IndexTable *retired;  // the table this one replaced, kept for late readers
    unsigned long mask;
    std::atomic<OrvexCacheNode *> slots[1];
};

std::atomic<IndexTable *> index_table{nullptr};
long index_count = 0;

unsigned long hash_of(const Orvex *object, int resolution, int tile)
{
    unsigned long h = reinterpret_cast<unsigned long>(object) >> 4;
    h ^= static_cast<unsigned long>(static_cast<unsigned>(resolution)) * 0x9E3779B97F4A7C15UL;
    h ^= static_cast<unsigned long>(static_cast<unsigned>(tile)) * 0xC2B2AE3D27D4EB4FUL;
    h ^= h >> 29;
    return h;
}

unsigned long home_of(const OrvexCacheNode *n, unsigned long mask)
{
    return hash_of(n->object.load(std::memory_order_relaxed), n->resolution.load(std::memory_order_relaxed),
                   n->tile.load(std::memory_order_relaxed)) &
           mask;
}

IndexTable *new_table(unsigned long slots)
{
    size_t bytes = sizeof(IndexTable) + (slots - 1) * sizeof(std::atomic<OrvexCacheNode *>);
    void *p = orvex_sys_malloc(bytes);
    if (!p) return nullptr;
    IndexTable *t = static_cast<IndexTable *>(p);
    t->retired = nullptr;
    t->mask = slots - 1;
    for (unsigned long i = 0; i < slots; i++) new (&t->slots[i]) std::atomic<OrvexCacheNode *>(nullptr);
    return t;
}

void place(IndexTable *t, OrvexCacheNode *n)
{
    unsigned long i = home_of(n, t->mask);
    while (t->slots[i].load(std::memory_order_relaxed)) i = (i + 1) & t->mask;
    t->slots[i].store(n, std::memory_order_release);
}

// ---- The order of last use ---------------------------------------------
// A binary min-heap on each entry's heap_key, the stamp it had when last
// placed. Hits only raise the stamp (without the lock); the heap catches up
// when an entry reaches the top with a newer stamp, so the entry it gives is
// the one whose last use is oldest.

OrvexCacheNode **heap = nullptr;
long heap_n = 0, heap_cap = 0;

void heap_set(long i, OrvexCacheNode *n)
{
    heap[i] = n;
    n->heap_pos = i;
}

void sift_up(long i)
{
    OrvexCacheNode *n = heap[i];
    while (i > 0) {
        long parent = (i - 1) / 2;
        if (heap[parent]->heap_key <= n->heap_key) break;
        heap_set(i, heap[parent]);
        i = parent;
    }
    heap_set(i, n);
}

void sift_down(long i)
{
    OrvexCacheNode *n = heap[i];
    for (;;) {
        long child = 2 * i + 1;
        if (child >= heap_n) break;
        if (child + 1 < heap_n && heap[child + 1]->heap_key < heap[child]->heap_key) child++;
        if (heap[child]->heap_key >= n->heap_key) break;
        heap_set(i, heap[child]);
        i = child;
    }
    heap_set(i, n);
}

}  // namespace

OrvexCacheNode *orvex_node_take(void)
{
    if (!free_nodes && !add_chunk()) return nullptr;
    OrvexCacheNode *n = free_nodes;
    free_nodes = n->next_free;
    n->next_free = nullptr;
    return n;
}

void orvex_node_give(OrvexCacheNode *node)
{
    node->next_free = free_nodes;
    free_nodes = node;
}

OrvexCacheNode *orvex_index_find(const Orvex *object, int resolution, int tile)
{
    IndexTable *t = index_table.load(std::memory_order_acquire);
    if (!t) return nullptr;
    unsigned long i = hash_of(object, resolution, tile) & t->mask;
    for (unsigned long probes = 0; probes <= t->mask; probes++, i = (i + 1) & t->mask) {
        OrvexCacheNode *n = t->slots[i].load(std::memory_order_acquire);
        if (!n) return nullptr;
        if (n->object.load(std::memory_order_acquire) == object && n->tile.load(std::memory_order_acquire) == tile &&
            n->resolution.load(std::memory_order_acquire) == resolution)
            return n;
    }
    return nullptr;
}

bool orvex_index_reserve(long entries)
{
    IndexTable *old = index_table.load(std::memory_order_relaxed);
    unsigned long slots = old ? old->mask + 1 : 0;
    if (static_cast<unsigned long>(entries) * 2 <= slots) return true;
    unsigned long want = slots ? slots : 2048;
    while (want < static_cast<unsigned long>(entries) * 2) want *= 2;
    IndexTable *t = new_table(want);
    if (!t) return false;
    if (old)
        for (unsigned long i = 0; i <= old->mask; i++)
            if (OrvexCacheNode *n = old->slots[i].load(std::memory_order_relaxed)) place(t, n);
    t->retired = old;
    index_table.store(t, std::memory_order_release);
    return true;
}

void orvex_index_add(OrvexCacheNode *node)
{
    place(index_table.load(std::memory_order_relaxed), node);
    index_count++;
}

void orvex_index_remove(OrvexCacheNode *node)
{
    IndexTable *t = index_table.load(std::memory_order_relaxed);
    unsigned long i = home_of(node, t->mask);
    while (t->slots[i].load(std::memory_order_relaxed) != node) i = (i + 1) & t->mask;
    // Backward shift: an entry later in the run moves into the hole unless
    // its home lies cyclically after the hole and up to its own slot.
    for (unsigned long j = (i + 1) & t->mask;; j = (j + 1) & t->mask) {
        OrvexCacheNode *n = t->slots[j].load(std::memory_order_relaxed);
        if (!n) break;
        unsigned long home = home_of(n, t->mask);
        bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
        if (stays) continue;
        t->slots[i].store(n, std::memory_order_release);
        i = j;
    }
    t->slots[i].store(nullptr, std::memory_order_release);
    index_count--;
}

bool orvex_use_order_reserve(long entries)
{
    if (entries <= heap_cap) return true;
    long cap = heap_cap ? heap_cap : 1024;
    while (cap < entries) cap *= 2;
    void *p = orvex_sys_realloc(heap, static_cast<size_t>(cap) * sizeof(OrvexCacheNode *));
    if (!p) return false;
    heap = static_cast<OrvexCacheNode **>(p);
    heap_cap = cap;
    return true;
}

void orvex_use_order_add(OrvexCacheNode *node)
{
    node->heap_key = node->stamp.load(std::memory_order_relaxed);
    heap_set(heap_n++, node);
    sift_up(node->heap_pos);
}

void orvex_use_order_remove(OrvexCacheNode *node)
{
    long i = node->heap_pos;
    if (i < 0) return;
    node->heap_pos = -1;
    OrvexCacheNode *last = heap[--heap_n];
    if (i == heap_n) return;
    heap_set(i, last);
    if (i > 0 && heap[(i - 1) / 2]->heap_key > last->heap_key)
        sift_up(i);
    else
        sift_down(i);
}

OrvexCacheNode *orvex_use_order_oldest(void)
{
    while (heap_n > 0) {
        OrvexCacheNode *top = heap[0];
        unsigned long stamp = top->stamp.load(std::memory_order_relaxed);
        if (stamp == top->heap_key) return top;
        top->heap_key = stamp;  // used since it was placed: to its new place
        sift_down(0);
    }
    return nullptr;
}

long orvex_use_order_size(void)
{
    return heap_n;
}
