// What the fuzz targets that read named files share: one private folder
// for the run, removed at exit, and writing an input's bytes into it.
#ifndef ORVEX_FUZZ_FILES_H
#define ORVEX_FUZZ_FILES_H

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace fuzzfiles {

inline std::string &folder_name()
{
    static std::string name;
    return name;
}

inline void remove_folder()
{
    std::string command = "rm -rf '" + folder_name() + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "cannot remove %s\n", folder_name().c_str());
}

// The run's folder, made on first use: in memory (/dev/shm) unless TMPDIR
// says otherwise, as every input writes a file or two.
inline const std::string &folder()
{
    if (folder_name().empty()) {
        const char *tmp = getenv("TMPDIR");
        if (!tmp || !*tmp) tmp = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(tmp) + "/orvex-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            perror("mkdtemp");
            abort();
        }
        folder_name() = pattern;
        atexit(remove_folder);
    }
    return folder_name();
}

inline std::string path(const char *name)
{
    return folder() + "/" + name;
}

// Writes `size` bytes as the file `path`, replacing it.
inline void write_file(const std::string &path, const void *data, size_t size)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || (size && fwrite(data, 1, size, f) != size) || fclose(f) != 0) {
        perror(path.c_str());
        abort();
    }
}

}  // namespace fuzzfiles

#endif
