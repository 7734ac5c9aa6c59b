#include "sampler.h"

#include <math.h>

#include "map_records.h"

namespace orvexcli {

bool covers_full_circle(const OrvexResolution &res)
{
    return fabs(static_cast<double>(res.nlon_tiles) * res.dlon_tiles) >= 360.0 - 1e-9;
}

GridSampler::GridSampler(Orvex *map, int resolution)
    : map_(map), resolution_(resolution), res_(&map->frame.resolutions[resolution]),
      grid_(grid_of(map->frame.resolutions[resolution])), tiles_(map, resolution)
{
}

int GridSampler::tile_samples(int tile, const unsigned char **samples)
{
    if (tile == last_tile_) {
        *samples = last_samples_;
        return 0;
    }
    if (tiles_.samples(tile, samples) != 0) return -1;
    last_tile_ = tile;
    last_samples_ = *samples;
    return 0;
}

void GridSampler::locate(double lat, double lon, Sample *out)
{
    long offset = -1;
    map_->findNearestPixel(res_, lat, lon, &out->tile, &out->row, &out->col, &offset);
    if (out->tile < 0) return;
    out->tilerow = out->tile / res_->nlon_tiles;
    out->tilecol = out->tile % res_->nlon_tiles;
    out->inside = true;
}

int GridSampler::sample(double lat, double lon, Sample *out)
{
    *out = Sample();
    out->elevation = grid_->content == 1;
    locate(lat, lon, out);
    if (!out->inside) return 0;
    const unsigned char *samples = nullptr;
    if (tile_samples(out->tile, &samples) != 0) return -1;
    long offset = (out->row * grid_->nlon_per_tile + out->col) * (out->elevation ? 2 : 3);
    const unsigned char *p = samples + offset;
    if (out->elevation) {
        /* Big-endian raw grids (data type 3) are delivered as stored. */
        bool big = res_->data_type == ORVEX_DATA_DEMB;
        unsigned v = big ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
        out->z = static_cast<short>(v);
    } else {
        out->rgb[0] = p[0];
        out->rgb[1] = p[1];
        out->rgb[2] = p[2];
    }
    return 0;
}

}  // namespace orvexcli
