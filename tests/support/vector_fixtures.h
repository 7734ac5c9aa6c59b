// Shared helpers of the vector tests: a temporary folder, whole-file reads,
// little-endian field reads, the error register as a list, and failure
// injection through the library's system-call hooks.
#ifndef ORVEX_TEST_VECTOR_FIXTURES_H
#define ORVEX_TEST_VECTOR_FIXTURES_H

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "test_common.h"

// A fresh folder removed with its files; path(name) names a file in it.
class VectorTempDir : public orvex_test::TempDir {
public:
    std::string path(const std::string &name) const { return file(name); }
    // Writes `bytes` to a new file in the folder and returns its path.
    std::string write(const std::string &name, const std::string &bytes) const
    {
        orvex_test::writeText(file(name), bytes);
        return file(name);
    }
};

std::string vector_read_file(const std::string &path);

template <typename T>
T vector_field(const std::string &bytes, size_t offset)
{
    T v{};
    if (offset + sizeof v <= bytes.size()) memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

// The messages of this thread's error register, oldest first; clears it.
inline std::vector<std::string> vector_take_messages() { return orvex_test::takeMessages(); }

// Replaces the library's system-call hooks for the life of the object:
// the call numbered `fail_at` (0 = the first after construction) of the
// chosen kind fails; -1 never fails. Counts every call of each kind.
class VectorFaults {
public:
    enum Kind { Write, Lseek, Malloc, Realloc };
    VectorFaults(Kind kind = Write, long fail_at = -1);
    ~VectorFaults();
    VectorFaults(const VectorFaults &) = delete;
    VectorFaults &operator=(const VectorFaults &) = delete;
    static long calls(Kind kind);
    static bool failed();
};

#endif
