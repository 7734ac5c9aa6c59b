#include "vector_fixtures.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "OrvexInternal.h"

std::string vector_read_file(const std::string &path)
{
    std::string out;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
}

namespace {

ssize_t (*real_write)(int, const void *, size_t);
off_t (*real_lseek)(int, off_t, int);
void *(*real_malloc)(size_t);
void *(*real_realloc)(void *, size_t);
VectorFaults::Kind fault_kind;
long fault_at = -1;
long counts[4];
bool fault_fired;

bool should_fail(VectorFaults::Kind kind)
{
    long n = counts[kind]++;
    if (kind != fault_kind || n != fault_at) return false;
    fault_fired = true;
    return true;
}

ssize_t fake_write(int fd, const void *buf, size_t n)
{
    if (should_fail(VectorFaults::Write)) {
        errno = ENOSPC;
        return -1;
    }
    return real_write(fd, buf, n);
}

off_t fake_lseek(int fd, off_t off, int whence)
{
    if (should_fail(VectorFaults::Lseek)) {
        errno = EBADF;
        return -1;
    }
    return real_lseek(fd, off, whence);
}

void *fake_malloc(size_t n)
{
    if (should_fail(VectorFaults::Malloc)) {
        errno = ENOMEM;
        return nullptr;
    }
    return real_malloc(n);
}

void *fake_realloc(void *p, size_t n)
{
    if (should_fail(VectorFaults::Realloc)) {
        errno = ENOMEM;
        return nullptr;
    }
    return real_realloc(p, n);
}

}  // namespace

VectorFaults::VectorFaults(Kind kind, long fail_at)
{
    real_write = orvex_sys_write;
    real_lseek = orvex_sys_lseek;
    real_malloc = orvex_sys_malloc;
    real_realloc = orvex_sys_realloc;
    fault_kind = kind;
    fault_at = fail_at;
    memset(counts, 0, sizeof counts);
    fault_fired = false;
    orvex_sys_write = fake_write;
    orvex_sys_lseek = fake_lseek;
    orvex_sys_malloc = fake_malloc;
    orvex_sys_realloc = fake_realloc;
}

VectorFaults::~VectorFaults()
{
    orvex_sys_write = real_write;
    orvex_sys_lseek = real_lseek;
    orvex_sys_malloc = real_malloc;
    orvex_sys_realloc = real_realloc;
}

long VectorFaults::calls(Kind kind) { return counts[kind]; }
bool VectorFaults::failed() { return fault_fired; }
