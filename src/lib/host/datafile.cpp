// Data-file lookup: the first existing DIR/relative for each folder of
// ORVEX_DATA, then for the installed data folder.

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "hostkit.h"

#ifndef ORVEX_DATADIR
#define ORVEX_DATADIR "/usr/local/share/orvex"
#endif

namespace {

bool is_regular_file(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

char *found(const std::string &dir, const char *relative)
{
    if (dir.empty()) return nullptr;
    std::string path = dir;
    if (path.back() != '/') path += '/';
    path += relative;
    return is_regular_file(path) ? strdup(path.c_str()) : nullptr;
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
    const char *env = getenv("ORVEX_DATA");
    if (env) {
        std::string dirs(env);
        size_t start = 0;
        while (start <= dirs.size()) {
            size_t colon = dirs.find(':', start);
            if (colon == std::string::npos) colon = dirs.size();
            if (char *path = found(dirs.substr(start, colon - start), relative)) return path;
            start = colon + 1;
        }
    }
    return found(ORVEX_DATADIR, relative);
}

}  // extern "C"
