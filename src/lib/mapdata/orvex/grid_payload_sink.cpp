// The payload of one grid tile: samples gathered in a small buffer and
// appended at the end of the file, deflated into one zlib stream at the
// default level or written as they are. Memory does not grow with the tile.

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

OrvexPayloadSink::OrvexPayloadSink(int fd, bool compressed) : fd_(fd), compressed_(compressed)
{
    memset(&zs_, 0, sizeof zs_);
}

OrvexPayloadSink::~OrvexPayloadSink()
{
    if (stream_open_) deflateEnd(&zs_);
}

int OrvexPayloadSink::open()
{
    if (!compressed_) return 0;
    if (deflateInit(&zs_, Z_DEFAULT_COMPRESSION) != Z_OK)
        return orvex_tile_writer_fail(0, "deflateInit() error.");
    stream_open_ = true;
    return 0;
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
    int rc = compressed_ ? deflate_buffer() : write_bytes(in_, used_);
    used_ = 0;
    return rc;
}

int OrvexPayloadSink::deflate_buffer()
{
    zs_.next_in = in_;
    zs_.avail_in = static_cast<uInt>(used_);
    do {
        zs_.next_out = out_;
        zs_.avail_out = sizeof out_;
        int rc = deflate(&zs_, Z_NO_FLUSH);
        // Z_BUF_ERROR only says that no progress was possible: the previous
        // call filled the output buffer exactly and nothing is left.
        if (rc != Z_OK && rc != Z_BUF_ERROR) return orvex_tile_writer_fail(0, "deflate() error.");
        size_t have = sizeof out_ - zs_.avail_out;
        if (have > 0 && write_bytes(out_, have) < 0) return -1;
    } while (zs_.avail_out == 0);
    return 0;
}

int OrvexPayloadSink::finish()
{
    if (flush() < 0) return -1;
    if (!compressed_) return 0;
    int rc;
    zs_.next_in = nullptr;
    zs_.avail_in = 0;
    for (;;) {
        zs_.next_out = out_;
        zs_.avail_out = sizeof out_;
        rc = deflate(&zs_, Z_FINISH);
        if (rc != Z_OK && rc != Z_STREAM_END) return orvex_tile_writer_fail(0, "deflate() error.");
        size_t have = sizeof out_ - zs_.avail_out;
        if (have == 0) break;
        if (write_bytes(out_, have) < 0) return -1;
        if (rc == Z_STREAM_END) break;
    }
    deflateEnd(&zs_);
    stream_open_ = false;
    if (rc != Z_STREAM_END) return orvex_tile_writer_fail(0, "deflate() error.");
    return 0;
}

int OrvexPayloadSink::write_bytes(const unsigned char *p, size_t n)
{
    if (orvex_write_all(fd_, p, n) != ORVEX_IO_OK) return orvex_tile_writer_fail(1, "write() error.");
    payload_ += n;
    return 0;
}
