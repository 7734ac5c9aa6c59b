// Shared helpers of the grid tests: a temporary folder, the error
// register, failing system calls, and hand-made input objects.
#ifndef ORVEX_TESTS_GRID_FIXTURES_H
#define ORVEX_TESTS_GRID_FIXTURES_H

#include <gtest/gtest.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "OrvexInternal.h"
#include "test_common.h"

// A fresh folder removed with its files; path(name) names a file in it.
class GridTempDir : public orvex_test::TempDir {
public:
    std::string path(const std::string &name) const { return file(name); }
};

// A grid test: it starts with an empty cache and register, ends with an
// empty register, and has a temporary folder.
class GridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Orvex().cleanCache(0, 1);
        elog_clear_register(0);
    }
    void TearDown() override { elog_clear_register(0); }
    GridTempDir dir;
};

// The messages in this thread's register, oldest first; the register is
// emptied.
inline std::vector<std::string> grid_take_messages() { return orvex_test::takeMessages(); }

// Sets ORVEX_THREADS (null: unsets it) for the builds of its lifetime.
class GridThreads {
public:
    explicit GridThreads(const char *count);
    ~GridThreads();
    GridThreads(const GridThreads &) = delete;
    GridThreads &operator=(const GridThreads &) = delete;

private:
    bool had_ = false;
    std::string old_;
};

// Makes the n-th call (counting from 1) of one of the library's system
// calls fail with errno set; the hooks are restored by the destructor.
class GridFailingCall {
public:
    enum Kind { kWrite, kLseek, kMalloc, kRealloc };
    GridFailingCall(Kind kind, long nth);
    ~GridFailingCall();
    // True when the failure was injected.
    static bool fired();

private:
    ssize_t (*write_)(int, const void *, size_t);
    off_t (*lseek_)(int, off_t, int);
    void *(*malloc_)(size_t);
    void *(*realloc_)(void *, size_t);
};

// Gives `object` (a freshly constructed input) one grid resolution per entry
// of `tiles_per_resolution`, each a row of that many tiles of rows x cols
// elevation samples, whose payloads are the given byte strings (zlib
// streams when compressed). The object owns the records; the payloads stay
// the caller's and must outlive it.
void grid_fake_input(Orvex *object, const std::vector<long> &tiles_per_resolution, long rows,
                     long cols, bool compressed, const std::vector<std::vector<uint8_t>> &payloads);
// A zlib stream of the bytes, at the default level.
std::vector<uint8_t> grid_deflate(const std::vector<uint8_t> &bytes);
// `count` elevation samples of the value v, little-endian.
std::vector<uint8_t> grid_samples(long count, int16_t v);

// One declared output resolution.
struct GridDecl {
    int input_resolution;
    int input_tile;
    long dec;
    int compressed;
    int nlat_tiles;
    int nlon_tiles;
    bool fit = false;  // declared with setResolutionHdrGridFit
};

// An input object opened on `path` (read-only), or null.
std::unique_ptr<Orvex> grid_open(const std::string &path);
// Builds the map file `out_path` from `input`: declares every resolution,
// then writes every tile with the library (writeDataGrid) or with the
// literal reference writer. Returns 0 or -1.
int grid_build(const std::string &out_path, Orvex *input, const std::vector<GridDecl> &decls,
               bool reference, double gamma = 1.0, double lightmin = 0.0);

// Reads the 8-byte value at `offset` of a byte string.
long grid_long_at(const std::vector<uint8_t> &bytes, size_t offset);

#endif
