// Whole-file mappings remembered by path, so that a mapping made here can be
// released by naming its file.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "hostkit.h"

namespace {

struct Mapping {
    void *addr;
    size_t size;
};

std::mutex mappings_mutex;
std::map<std::string, Mapping> &mappings()
{
    static std::map<std::string, Mapping> m;
    return m;
}

void log_error(int flag, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    elog_log(flag, format, args);
    va_end(args);
}

}  // namespace

extern "C" {

int mapfile(const char *path, void **addr, long *size)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        log_error(1, "mapfile: open(%s) error.\n", path);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) < 0 || st.st_size <= 0) {
        log_error(1, "mapfile: fstat(%s) error or empty file.\n", path);
        close(fd);
        return -1;
    }
    void *p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED) {
        log_error(1, "mapfile: mmap(%s) error.\n", path);
        return -1;
    }
    try {
        std::lock_guard<std::mutex> lock(mappings_mutex);
        auto old = mappings().find(path);
        if (old != mappings().end()) munmap(old->second.addr, old->second.size);
        mappings()[path] = Mapping{p, static_cast<size_t>(st.st_size)};
    } catch (...) {
        munmap(p, static_cast<size_t>(st.st_size));
        log_error(0, "mapfile: out of memory for %s.\n", path);
        return -1;
    }
    *addr = p;
    *size = static_cast<long>(st.st_size);
    return 0;
}

int unmapfile(const char *path, void *)
{
    if (!path) return -1;
    std::lock_guard<std::mutex> lock(mappings_mutex);
    auto it = mappings().find(path);
    if (it == mappings().end()) return -1;
    munmap(it->second.addr, it->second.size);
    mappings().erase(it);
    return 0;
}

}  // extern "C"
