// Fuzz target: any text given as the parameter file of a raw grid is read or
// refused, for an elevation and a colour grid alike. A grid it describes is
// located at a few positions, its samples read there, and it is decimated
// into a small map, all without a read outside the grid file.

#include <math.h>
#include <stdint.h>

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

// Looks up the sample at (lat, lon) and reads it from the tile.
void read_sample(Orvex &in, double lat, double lon)
{
    OrvexResolution &res = in.frame.resolutions[0];
    OrvexGrid *grid = static_cast<OrvexGrid *>(res.data);
    int tile = -1;
    long tile_row = -1, tile_col = -1, row = -1, col = -1, offset = -1;
    in.findTile(0, lat, lon, &tile, &tile_row, &tile_col);
    if (tile < 0) return;
    in.findPixelWithinTile(&res, grid, tile_row, tile_col, lat, lon, &row, &col, &offset);
    unsigned char *samples = nullptr;
    if (offset < 0 || in.getTileGrid(0, tile, &samples) != 0) return;
    long size = grid->content == 1 ? 2 : 3;
    if (static_cast<unsigned long>(offset + size) > grid->tiles[tile].nbuf) __builtin_trap();
    volatile unsigned char sink = samples[offset] ^ samples[offset + size - 1];
    (void)sink;
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

// Decimates by 2 where the grid divides evenly, in 2 x 2 tiles where the
// result does, and writes every tile.
void build_map(Orvex &in)
{
    const OrvexGrid *g = static_cast<const OrvexGrid *>(in.frame.resolutions[0].data);
    long dec = g->nlat % 2 == 0 && g->nlon % 2 == 0 ? 2 : 1;
    int tiles = (g->nlat / dec) % 2 == 0 && (g->nlon / dec) % 2 == 0 ? 2 : 1;
    std::string output = fuzzfiles::path("out.orx");
    unlink(output.c_str());
    {
        Orvex out;
        if (out.setOutput(output.c_str()) != 0) return;
        if (out.setResolutionHdrGrid(&in, 0, 0, dec, 1, tiles, tiles, "g", "fuzz") != 0) return;
        for (int t = 0; t < tiles * tiles; t++)
            if (out.writeTileDataGrid(0, t, 1.0, 0.0) != 0) break;
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
