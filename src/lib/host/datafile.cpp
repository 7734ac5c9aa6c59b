// Data-file lookup: the first existing DIR/relative for each folder of
// ORVEX_DATA, then for the installed data folder. When none exists the
// register says why, with every path tried, before the caller's message.

#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "hostkit.h"

#ifndef ORVEX_DATADIR
#define ORVEX_DATADIR "/usr/local/share/orvex"
#endif

namespace {

// The paths tried and the most telling reason none of them would do: a
// file that exists but cannot be used says more than one that is absent.
struct Search {
    std::string tried;
    std::string reason = "No such file or directory";
    bool telling = false;

    void failed(const std::string &path, const char *why)
    {
        tried += (tried.empty() ? "" : ", ") + path;
        if (!telling && why) reason = why, telling = true;
    }
};

bool is_regular_file(const std::string &path, Search *search)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        search->failed(path, errno == ENOENT ? nullptr : strerror(errno));
        return false;
    }
    if (S_ISREG(st.st_mode)) return true;
    search->failed(path, "not a regular file");
    return false;
}

char *found(const std::string &dir, const char *relative, Search *search)
{
    if (dir.empty()) return nullptr;
    std::string path = dir;
    if (path.back() != '/') path += '/';
    path += relative;
    return is_regular_file(path, search) ? strdup(path.c_str()) : nullptr;
}

void log_text(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    elog_log(0, format, args);
    va_end(args);
}

}  // namespace

extern "C" {

const char *datafile_install_dir(void)
{
    return ORVEX_DATADIR;
}

char *datafile(const char *, const char *relative)
{
    if (!relative || !*relative) return nullptr;
    Search search;
    const char *env = getenv("ORVEX_DATA");
    if (env) {
        std::string dirs(env);
        size_t start = 0;
        while (start <= dirs.size()) {
            size_t colon = dirs.find(':', start);
            if (colon == std::string::npos) colon = dirs.size();
            if (char *path = found(dirs.substr(start, colon - start), relative, &search)) return path;
            start = colon + 1;
        }
    }
    if (char *path = found(ORVEX_DATADIR, relative, &search)) return path;
    log_text("datafile: cannot open %s: %s (tried %s)\n", relative, search.reason.c_str(), search.tried.c_str());
    return nullptr;
}

}  // extern "C"
