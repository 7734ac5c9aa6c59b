#include "grid_fixtures.h"

#include "grid_reference.h"

#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <stdexcept>

namespace {

// Atomic: a parallel build makes the calls on several threads.
std::atomic<long> countdown{0};
std::atomic<bool> did_fire{false};
ssize_t (*real_write)(int, const void *, size_t);
off_t (*real_lseek)(int, off_t, int);
void *(*real_malloc)(size_t);
void *(*real_realloc)(void *, size_t);

bool due()
{
    if (countdown.load() <= 0) return false;
    if (countdown.fetch_sub(1) != 1) return false;
    did_fire = true;
    return true;
}

ssize_t failing_write(int fd, const void *p, size_t n)
{
    if (due()) {
        errno = EIO;
        return -1;
    }
    return real_write(fd, p, n);
}

off_t failing_lseek(int fd, off_t o, int w)
{
    if (due()) {
        errno = EBADF;
        return -1;
    }
    return real_lseek(fd, o, w);
}

void *failing_malloc(size_t n)
{
    if (due()) {
        errno = ENOMEM;
        return nullptr;
    }
    return real_malloc(n);
}

void *failing_realloc(void *p, size_t n)
{
    if (due()) {
        errno = ENOMEM;
        return nullptr;
    }
    return real_realloc(p, n);
}

}  // namespace

GridThreads::GridThreads(const char *count)
{
    const char *old = getenv("ORVEX_THREADS");
    had_ = old != nullptr;
    if (old) old_ = old;
    if (count)
        setenv("ORVEX_THREADS", count, 1);
    else
        unsetenv("ORVEX_THREADS");
}

GridThreads::~GridThreads()
{
    if (had_)
        setenv("ORVEX_THREADS", old_.c_str(), 1);
    else
        unsetenv("ORVEX_THREADS");
}

GridFailingCall::GridFailingCall(Kind kind, long nth)
    : write_(orvex_sys_write), lseek_(orvex_sys_lseek), malloc_(orvex_sys_malloc),
      realloc_(orvex_sys_realloc)
{
    real_write = write_;
    real_lseek = lseek_;
    real_malloc = malloc_;
    real_realloc = realloc_;
    countdown = nth;
    did_fire = false;
    switch (kind) {
    case kWrite: orvex_sys_write = failing_write; break;
    case kLseek: orvex_sys_lseek = failing_lseek; break;
    case kMalloc: orvex_sys_malloc = failing_malloc; break;
    case kRealloc: orvex_sys_realloc = failing_realloc; break;
    }
}

GridFailingCall::~GridFailingCall()
{
    orvex_sys_write = write_;
    orvex_sys_lseek = lseek_;
    orvex_sys_malloc = malloc_;
    orvex_sys_realloc = realloc_;
    countdown = 0;
}

bool GridFailingCall::fired()
{
    return did_fire;
}

void grid_fake_input(Orvex *object, const std::vector<long> &tiles_per_resolution, long rows,
                     long cols, bool compressed, const std::vector<std::vector<uint8_t>> &payloads)
{
    long nres = static_cast<long>(tiles_per_resolution.size());
    object->frame.resolutions =
        static_cast<OrvexResolution *>(calloc(static_cast<size_t>(nres), sizeof(OrvexResolution)));
    object->frame.nresolutions = nres;
    size_t next = 0;
    for (long r = 0; r < nres; r++) {
        OrvexResolution &res = object->frame.resolutions[r];
        long ntiles = tiles_per_resolution[static_cast<size_t>(r)];
        res.map_type = ORVEX_MAP_GRID;
        res.nlat_tiles = 1;
        res.nlon_tiles = ntiles;
        res.ntiles = ntiles;
        res.dlat_tiles = static_cast<double>(rows);
        res.dlon_tiles = static_cast<double>(cols);
        OrvexGrid *g = static_cast<OrvexGrid *>(calloc(1, sizeof(OrvexGrid)));
        g->content = 1;
        g->compressed = compressed;
        g->decimation_factor = 1;
        g->dlat = g->dlon = 1.0;
        g->nlat = g->nlat_per_tile = rows;
        g->nlon_per_tile = cols;
        g->nlon = cols * ntiles;
        g->tiles = static_cast<OrvexGridTile *>(calloc(static_cast<size_t>(ntiles), sizeof(OrvexGridTile)));
        for (long t = 0; t < ntiles; t++) {
            const std::vector<uint8_t> &p = payloads[next++ % payloads.size()];
            g->tiles[t].buf = const_cast<unsigned char *>(p.data());
            g->tiles[t].nbuf = p.size();
        }
        res.data = g;
    }
}

std::vector<uint8_t> grid_deflate(const std::vector<uint8_t> &bytes)
{
    uLongf n = compressBound(bytes.size());
    std::vector<uint8_t> out(n);
    compress2(out.data(), &n, bytes.data(), bytes.size(), Z_DEFAULT_COMPRESSION);
    out.resize(n);
    return out;
}

std::vector<uint8_t> grid_samples(long count, int16_t v)
{
    std::vector<uint8_t> out(static_cast<size_t>(count) * 2);
    for (long i = 0; i < count; i++) memcpy(&out[static_cast<size_t>(i) * 2], &v, 2);
    return out;
}

long grid_long_at(const std::vector<uint8_t> &bytes, size_t offset)
{
    long v = 0;
    if (offset + 8 <= bytes.size()) memcpy(&v, &bytes[offset], 8);
    return v;
}

std::unique_ptr<Orvex> grid_open(const std::string &path)
{
    std::unique_ptr<Orvex> o(new Orvex);
    if (o->setInput(path.c_str(), 0, nullptr) < 0) return nullptr;
    return o;
}

int grid_build(const std::string &out_path, Orvex *input, const std::vector<GridDecl> &decls,
               bool reference, double gamma, double lightmin)
{
    Orvex out;
    if (out.setOutput(out_path.c_str()) < 0) return -1;
    for (const GridDecl &d : decls) {
        auto declare = d.fit ? &Orvex::setResolutionHdrGridFit : &Orvex::setResolutionHdrGrid;
        if ((out.*declare)(input, d.input_resolution, d.input_tile, d.dec, d.compressed,
                           d.nlat_tiles, d.nlon_tiles, "test", "decimated") < 0)
            return -1;
    }
    return reference ? grid_reference_write_all(&out, gamma, lightmin)
                     : out.writeDataGrid(gamma, lightmin);
}
