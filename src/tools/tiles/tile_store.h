// Tile contents stored once each: every distinct content is appended to a
// scratch file as it comes, and identical tiles (the open sea, mostly) are
// found by a 64-bit hash and length and confirmed byte for byte against the
// stored copy, so only the contents' places are held in memory.
#ifndef ORVEX_TILES_TILE_STORE_H
#define ORVEX_TILES_TILE_STORE_H

#include <stdint.h>

#include <string>
#include <unordered_map>

namespace orvextiles {

uint64_t content_hash(const std::string &bytes);

/* n bytes at file position `at`, whole, retried after interruptions and
 * short transfers. Return 0, or -1 with errno set (a short read: EIO). */
int write_whole(int fd, uint64_t at, const void *data, size_t n);
int read_whole(int fd, uint64_t at, void *data, size_t n);

class TileStore {
public:
    TileStore() = default;
    ~TileStore();
    TileStore(const TileStore &) = delete;
    TileStore &operator=(const TileStore &) = delete;

    /* Creates (or empties) the scratch file. Returns 0, or -1 (registered). */
    int open(const std::string &path);
    /* Where these bytes are kept: an earlier identical content's place
     * (*fresh false), or the end of the file after appending them. Returns
     * 0, or -1 when the file cannot be written or read (registered). */
    int add(const std::string &bytes, uint64_t *offset, bool *fresh);
    /* Copies `length` bytes from `offset` of the scratch file to `fd` at
     * its position `at`. Returns 0, or -1 (registered). */
    int copy_to(int fd, uint64_t at, uint64_t offset, uint64_t length) const;

    uint64_t bytes() const { return end_; }
    long contents() const { return contents_; }

private:
    bool same(uint64_t offset, const std::string &bytes) const;
    int fd_ = -1;
    std::string path_;
    uint64_t end_ = 0;
    long contents_ = 0;
    struct Place {
        uint64_t offset, length;
    };
    /* content hash (length included) -> the contents with it */
    std::unordered_multimap<uint64_t, Place> places_;
};

}  // namespace orvextiles

#endif
