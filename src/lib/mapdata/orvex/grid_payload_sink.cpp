// The payload of one grid tile: samples gathered in a small buffer and
// appended at the end of the file, deflated into one zlib stream at the
// default level or written as they are. Memory does not grow with the tile
// beyond what the deflater needs (nothing with zlib, the tile and its
// compressed bound with libdeflate), unless the payload is kept in memory
// for a parallel build.

#include <stdlib.h>
#include <string.h>

#include "OrvexInternal.h"
#include "grid_tile_writer.h"

namespace {
const size_t kFlushAbove = 4192;  // a sample adds at most 3 bytes to 4196
}

int orvex_tile_writer_fail(int flag, const char *what)
{
    orvex_register_error(flag, "Orvex::writeTileDataGrid: %s\n", what);
    return -1;
}

OrvexChunks::~OrvexChunks()
{
    free(data_);
}

void OrvexChunks::release()
{
    free(data_);
    data_ = nullptr;
    used_ = capacity_ = 0;
}

// Each string is stored as its length (a size_t) followed by its bytes.
bool OrvexChunks::add(const void *p, size_t n)
{
    const size_t max = static_cast<size_t>(-1);
    if (n > max - sizeof n || used_ > max - sizeof n - n) return false;
    size_t need = used_ + sizeof n + n;
    if (need > capacity_) {
        size_t grown = capacity_ ? capacity_ : 4096;
        // Doubling up to 64 MB, then 64 MB at a time: a payload of a large
        // tile must not hold twice its size.
        const size_t kStep = 64u << 20;
        while (grown < need) grown = grown > max / 2 ? need : grown < kStep ? grown * 2 : grown + kStep;
        void *q = orvex_sys_realloc(data_, grown);
        if (!q) return false;
        data_ = static_cast<unsigned char *>(q);
        capacity_ = grown;
    }
    memcpy(data_ + used_, &n, sizeof n);
    if (n) memcpy(data_ + used_ + sizeof n, p, n);
    used_ = need;
    return true;
}

bool OrvexChunks::next(size_t *pos, const unsigned char **p, size_t *n) const
{
    if (*pos >= used_) return false;
    memcpy(n, data_ + *pos, sizeof *n);
    *p = data_ + *pos + sizeof *n;
    *pos += sizeof *n + *n;
    return true;
}

OrvexPayloadSink::OrvexPayloadSink(int fd, bool compressed, OrvexChunks *memory)
    : fd_(fd), compressed_(compressed), memory_(memory), deflater_(emit, this)
{
}

OrvexPayloadSink::~OrvexPayloadSink() = default;

int OrvexPayloadSink::open(size_t expected)
{
    return compressed_ ? deflater_.open(expected) : 0;
}

int OrvexPayloadSink::append(const unsigned char *samples, size_t nbytes, size_t sample_size)
{
    while (nbytes > 0) {
        // Whole samples up to and including the one that passes the mark.
        size_t room = ((kFlushAbove - used_) / sample_size + 1) * sample_size;
        size_t n = nbytes < room ? nbytes : room;
        memcpy(in_ + used_, samples, n);
        used_ += n;
        samples += n;
        nbytes -= n;
        if (used_ > kFlushAbove && flush() < 0) return -1;
    }
    return 0;
}

int OrvexPayloadSink::flush()
{
    if (used_ == 0) return 0;
    int rc = compressed_ ? deflater_.put(in_, used_) : write_bytes(in_, used_);
    used_ = 0;
    return rc;
}

int OrvexPayloadSink::finish()
{
    if (flush() < 0) return -1;
    return compressed_ ? deflater_.finish() : 0;
}

int OrvexPayloadSink::emit(void *sink, const unsigned char *p, size_t n)
{
    return static_cast<OrvexPayloadSink *>(sink)->write_bytes(p, n);
}

int OrvexPayloadSink::write_bytes(const unsigned char *p, size_t n)
{
    if (memory_) {
        // Kept as one write each, so that the file later receives exactly
        // the writes a direct build makes.
        if (!memory_->add(p, n)) {
            out_of_memory_ = true;
            return -1;
        }
        payload_ += n;
        return 0;
    }
    if (orvex_write_all(fd_, p, n) != ORVEX_IO_OK) return orvex_tile_writer_fail(1, "write() error.");
    payload_ += n;
    return 0;
}
