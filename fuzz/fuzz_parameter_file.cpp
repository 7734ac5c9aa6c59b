// Fuzz target: any text given as the parameter file of a raw grid is read or
// refused, for an elevation and a colour grid alike. A grid it describes is
// located at a few positions, its samples read there, and it is built into
// a small map as `orvex build` does, all without a read outside the grid
// file.

#include <math.h>
#include <stdint.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "OrvexInternal.h"
#include "fuzz_files.h"

namespace {

const int kSide = 64;  // the raw grids hold 64 x 64 samples

// Writes NAME with 64 x 64 samples of `sample_size` bytes, a varied relief.
std::string make_grid(const char *name, int sample_size)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(kSide) * kSide * sample_size);
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<uint8_t>((i * 7919) >> 3);
    std::string p = fuzzfiles::path(name);
    fuzzfiles::write_file(p, bytes.data(), bytes.size());
    return p;
}

// Reads the sample at `offset` of a tile, which must hold it.
void read_at(Orvex &in, int tile, long offset)
{
    const OrvexGrid *grid = static_cast<const OrvexGrid *>(in.frame.resolutions[0].data);
    unsigned char *samples = nullptr;
    if (tile < 0 || offset < 0 || in.getTileGrid(0, tile, &samples) != 0) return;
    long size = grid->content == 1 ? 2 : 3;
    if (static_cast<unsigned long>(offset + size) > grid->tiles[tile].nbuf) __builtin_trap();
    volatile unsigned char sink = samples[offset] ^ samples[offset + size - 1];
    (void)sink;
}

// Looks up the sample at (lat, lon) both ways, and reads it.
void read_sample(Orvex &in, double lat, double lon)
{
    OrvexResolution &res = in.frame.resolutions[0];
    OrvexGrid *grid = static_cast<OrvexGrid *>(res.data);
    int tile = -1;
    long tile_row = -1, tile_col = -1, row = -1, col = -1, offset = -1;
    in.findTile(0, lat, lon, &tile, &tile_row, &tile_col);
    if (tile >= 0) {
        in.findPixelWithinTile(&res, grid, tile_row, tile_col, lat, lon, &row, &col, &offset);
        read_at(in, tile, offset);
    }
    in.findNearestPixel(&res, lat, lon, &tile, &row, &col, &offset);
    read_at(in, tile, offset);
}

// Positions inside, on the edges of and around the grid's area.
void read_samples(Orvex &in)
{
    const OrvexResolution &res = in.frame.resolutions[0];
    double lat0 = res.lat_start_tiles, lon0 = res.lon_start_tiles;
    double dlat = res.dlat_tiles, dlon = res.dlon_tiles;
    for (double f : {0.0, 0.5, 0.999, 1.0, -0.01})
        for (double g : {0.0, 0.37, 1.0})
            read_sample(in, lat0 + f * dlat, lon0 + g * dlon);
    read_sample(in, NAN, lon0);
    read_sample(in, lat0, lon0 + 720);
}

// Declares the grid twice, whole and decimated by 3 in 2 x 2 tiles (cut
// to whole steps as `orvex build` does), and writes every tile.
void build_map(Orvex &in)
{
    std::string output = fuzzfiles::path("out.orx");
    unlink(output.c_str());
    {
        Orvex out;
        if (out.setOutput(output.c_str()) != 0) return;
        out.setResolutionHdrGridFit(&in, 0, 0, 1, 0, 1, 1, "whole", nullptr);
        out.setResolutionHdrGridFit(&in, 0, 0, 3, 1, 2, 2, "third", "fuzz");
        OrvexWriteOptions options;
        options.cache_budget = 1 << 20;
        if (out.frame.nresolutions > 0) out.writeData(options);
    }
    unlink(output.c_str());
}

void open_grid(const std::string &grid)
{
    Orvex in;
    if (in.setInput(grid.c_str(), 0, nullptr) == 0 && in.frame.nresolutions == 1) {
        read_samples(in);
        build_map(in);
    }
    in.cleanCache(0, 1);
}

}  // namespace

// One thread: the build's workers would make coverage vary from run to run.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("ORVEX_THREADS", "1", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    static const std::string dem = make_grid("g.dem", 2);
    static const std::string rgb = make_grid("g.rgb", 3);
    for (const std::string *grid : {&dem, &rgb}) {
        fuzzfiles::write_file(*grid + ".pf", data, size);
        open_grid(*grid);
        elog_clear_register(0);
    }
    return 0;
}
