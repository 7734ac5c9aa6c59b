// The system calls the library makes, behind replaceable pointers so that
// tests can inject failures, and the one helper that writes at a file
// position.

#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include "OrvexInternal.h"

ssize_t (*orvex_sys_write)(int, const void *, size_t) = ::write;
off_t (*orvex_sys_lseek)(int, off_t, int) = ::lseek;
void *(*orvex_sys_malloc)(size_t) = ::malloc;
void *(*orvex_sys_realloc)(void *, size_t) = ::realloc;

void *orvex_calloc(size_t n, size_t size)
{
    if (size != 0 && n > static_cast<size_t>(-1) / size) {
        errno = ENOMEM;
        return nullptr;
    }
    size_t bytes = n * size;
    // The system's calloc hands out large blocks as untouched zero pages, so
    // a big tile buffer costs memory only where data is written into it.
    if (orvex_sys_malloc == ::malloc) return ::calloc(bytes ? bytes : 1, 1);
    void *p = orvex_sys_malloc(bytes ? bytes : 1);
    if (p) memset(p, 0, bytes);
    return p;
}

int orvex_write_all(int fd, const void *data, size_t n)
{
    const unsigned char *p = static_cast<const unsigned char *>(data);
    while (n > 0) {
        ssize_t w = orvex_sys_write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = EIO;  // a short write has no errno of its own
            return ORVEX_IO_WRITE;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return ORVEX_IO_OK;
}

long orvex_tell(int fd)
{
    return static_cast<long>(orvex_sys_lseek(fd, 0, SEEK_CUR));
}

int orvex_write_at(int fd, long position, const void *data, size_t n)
{
    long back = orvex_tell(fd);
    if (back < 0) return ORVEX_IO_SEEK;
    if (orvex_sys_lseek(fd, position, SEEK_SET) < 0) return ORVEX_IO_SEEK;
    int rc = orvex_write_all(fd, data, n);
    // Return to where we were even after a failed write, so that the next
    // append does not land in the middle of the header.
    if (orvex_sys_lseek(fd, back, SEEK_SET) < 0) return rc ? rc : ORVEX_IO_SEEK;
    return rc;
}

int orvex_io_failure(const char *who, int rc)
{
    if (rc == ORVEX_IO_SEEK)
        orvex_register_error(1, "%s: lseek() error.\n", who);
    else
        orvex_register_error(1, "%s: write() error.\n", who);
    return -1;
}

bool orvex_span_in_mapping(long size, unsigned long offset, unsigned long count,
                           unsigned long record_size)
{
    if (size < 0) return false;
    unsigned long total = static_cast<unsigned long>(size);
    if (offset > total) return false;
    if (record_size != 0 && count > (total - offset) / record_size) return false;
    return true;
}
