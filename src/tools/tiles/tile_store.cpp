// The deduplicating store of tile contents on a scratch file.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "Orvex.h"
#include "tile_store.h"

namespace orvextiles {

uint64_t content_hash(const std::string &bytes)
{
    /* FNV-1a, eight bytes a step folded in as one word so that large tiles
     * hash quickly; the length goes in too. */
    uint64_t h = 1469598103934665603ULL ^ bytes.size();
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes.data());
    size_t n = bytes.size(), k = 0;
    for (; k + 8 <= n; k += 8) {
        uint64_t w;
        memcpy(&w, p + k, 8);
        h = (h ^ w) * 1099511628211ULL;
        h ^= h >> 29;
    }
    for (; k < n; k++) h = (h ^ p[k]) * 1099511628211ULL;
    return h;
}

int write_whole(int fd, uint64_t at, const void *data, size_t n)
{
    const char *p = static_cast<const char *>(data);
    while (n > 0) {
        ssize_t w = pwrite(fd, p, n, static_cast<off_t>(at));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return -1;
        p += w;
        at += static_cast<uint64_t>(w);
        n -= static_cast<size_t>(w);
    }
    return 0;
}

int read_whole(int fd, uint64_t at, void *data, size_t n)
{
    char *p = static_cast<char *>(data);
    while (n > 0) {
        ssize_t r = pread(fd, p, n, static_cast<off_t>(at));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            if (r == 0) errno = EIO;
            return -1;
        }
        p += r;
        at += static_cast<uint64_t>(r);
        n -= static_cast<size_t>(r);
    }
    return 0;
}

TileStore::~TileStore()
{
    if (fd_ >= 0) close(fd_);
}

int TileStore::open(const std::string &path)
{
    if (fd_ >= 0) close(fd_);
    path_ = path;
    end_ = 0;
    contents_ = 0;
    places_.clear();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        orvex_register_error(0, "tile store: cannot create '%s': %s\n", path.c_str(), strerror(errno));
        return -1;
    }
    return 0;
}

bool TileStore::same(uint64_t offset, const std::string &bytes) const
{
    thread_local std::vector<char> stored;
    stored.resize(bytes.size());
    if (read_whole(fd_, offset, stored.data(), stored.size()) != 0) return false;
    return bytes.empty() || memcmp(stored.data(), bytes.data(), bytes.size()) == 0;
}

int TileStore::add(const std::string &bytes, uint64_t *offset, bool *fresh)
{
    if (fd_ < 0) {
        orvex_register_error(0, "tile store: no scratch file is open\n");
        return -1;
    }
    /* The hash holds the length, and equal hashes are checked byte for
     * byte, so a match is the same content. */
    uint64_t key = content_hash(bytes);
    auto range = places_.equal_range(key);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second.length == bytes.size() && same(it->second.offset, bytes)) {
            *offset = it->second.offset;
            *fresh = false;
            return 0;
        }
    }
    if (write_whole(fd_, end_, bytes.data(), bytes.size()) != 0) {
        orvex_register_error(0, "tile store: cannot write '%s': %s\n", path_.c_str(), strerror(errno));
        return -1;
    }
    places_.emplace(key, Place{end_, bytes.size()});
    *offset = end_;
    *fresh = true;
    end_ += bytes.size();
    contents_++;
    return 0;
}

int TileStore::copy_to(int fd, uint64_t at, uint64_t offset, uint64_t length) const
{
    std::vector<char> buffer(1 << 20);
    while (length > 0) {
        size_t n = length < buffer.size() ? static_cast<size_t>(length) : buffer.size();
        if (read_whole(fd_, offset, buffer.data(), n) != 0 || write_whole(fd, at, buffer.data(), n) != 0) {
            orvex_register_error(0, "tile store: cannot copy the tiles out of '%s': %s\n", path_.c_str(),
                                 strerror(errno));
            return -1;
        }
        offset += n;
        at += n;
        length -= n;
    }
    return 0;
}

}  // namespace orvextiles
