// Payloads of the later resolutions of a band-by-band pass. Their tiles are
// made while the band they read is held, between tiles of the pass's first
// resolution; the file must still hold each resolution's payloads after the
// previous resolution's, as a build of one resolution after another lays
// them out. So they wait in an unlinked scratch file and are appended in
// resolution and tile order once the pass's tiles are all made; their index
// entries are filled then.

#include <errno.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>

#include <algorithm>

#include "OrvexInternal.h"
#include "grid_tile_writer.h"

namespace {

const size_t kCopyPiece = 1u << 20;

}  // namespace

OrvexDeferredPayloads::~OrvexDeferredPayloads()
{
    if (fd_ >= 0) close(fd_);
}

// The scratch file, made on first use in TMPDIR (or /tmp) and unlinked at
// once: nothing is left behind whatever happens to the process.
int OrvexDeferredPayloads::open_scratch()
{
    if (fd_ >= 0) return 0;
    const char *dir = getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/orvex-payloads-XXXXXX";
    fd_ = mkstemp(&path[0]);
    if (fd_ < 0) return orvex_tile_writer_fail(1, "cannot create a scratch file for payloads.");
    unlink(path.c_str());
    return 0;
}

int OrvexDeferredPayloads::keep(int r, long t, OrvexGridTile *entry, const OrvexChunks &payload, long zmin, long zmax)
{
    if (open_scratch() < 0) return -1;
    Kept k{r, t, entry, end_, 0, zmin, zmax};
    size_t pos = 0, n;
    const unsigned char *p;
    while (payload.next(&pos, &p, &n)) {
        if (orvex_write_all(fd_, p, n) != ORVEX_IO_OK) return orvex_tile_writer_fail(1, "write() error.");
        k.nbuf += n;
    }
    end_ += static_cast<off_t>(k.nbuf);
    try {
        kept_.push_back(k);
    } catch (...) {
        errno = ENOMEM;
        return orvex_tile_writer_fail(1, "malloc(deferred payloads) error.");
    }
    return 0;
}

int OrvexDeferredPayloads::make(Orvex *o, int r, long t, double gamma, double lightmin)
{
    if (open_scratch() < 0) return -1;
    Kept k{r, t, nullptr, end_, 0, ORVEX_NODATA, ORVEX_NODATA};
    if (orvex_make_tile_grid(o, r, static_cast<int>(t), gamma, lightmin, fd_, &k.entry, &k.nbuf, &k.zmin, &k.zmax) < 0)
        return -1;
    try {
        kept_.push_back(k);
    } catch (...) {
        errno = ENOMEM;
        return orvex_tile_writer_fail(1, "malloc(deferred payloads) error.");
    }
    end_ += static_cast<off_t>(k.nbuf);
    return 0;
}

int OrvexDeferredPayloads::copy(Orvex *o, const Kept &k, unsigned char *buf)
{
    if (orvex_grid_mark_payload_start(o, *k.entry) < 0) return -1;
    for (unsigned long done = 0; done < k.nbuf;) {
        size_t n = std::min<unsigned long>(kCopyPiece, k.nbuf - done);
        ssize_t got = pread(fd_, buf, n, k.at + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return orvex_tile_writer_fail(1, "read() error.");
        if (orvex_write_all(o->fd, buf, static_cast<size_t>(got)) != ORVEX_IO_OK)
            return orvex_tile_writer_fail(1, "write() error.");
        done += static_cast<unsigned long>(got);
    }
    return orvex_grid_complete_entry(o, *k.entry, k.nbuf, k.zmin, k.zmax);
}

int OrvexDeferredPayloads::flush(Orvex *o)
{
    if (kept_.empty()) return 0;
    std::stable_sort(kept_.begin(), kept_.end(),
                     [](const Kept &a, const Kept &b) { return a.r != b.r ? a.r < b.r : a.t < b.t; });
    unsigned char *buf = static_cast<unsigned char *>(malloc(kCopyPiece));
    if (!buf) return orvex_tile_writer_fail(1, "malloc(copy buffer) error.");
    int rc = 0;
    for (const Kept &k : kept_)
        if ((rc = copy(o, k, buf)) < 0) break;
    free(buf);
    kept_.clear();
    end_ = 0;
    if (rc == 0 && ftruncate(fd_, 0) != 0) return orvex_tile_writer_fail(1, "ftruncate() error.");
    if (rc == 0 && lseek(fd_, 0, SEEK_SET) < 0) return orvex_tile_writer_fail(1, "lseek() error.");
    return rc;
}
