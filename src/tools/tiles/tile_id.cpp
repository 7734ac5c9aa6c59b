// Tile numbers along Hilbert curves, and the tiles of a region.
#include <math.h>

#include <algorithm>

#include "tile_id.h"

namespace orvextiles {

namespace {

/* Tiles of every zoom below z: (4^z - 1) / 3. */
uint64_t tiles_below(int z)
{
    return ((uint64_t(1) << (2 * z)) - 1) / 3;
}

/* One step of the curve: the quadrant turned so that the curve inside it
 * runs the same way as the whole. */
void turn(uint64_t n, uint64_t *x, uint64_t *y, uint64_t rx, uint64_t ry)
{
    if (ry != 0) return;
    if (rx != 0) {
        *x = n - 1 - *x;
        *y = n - 1 - *y;
    }
    std::swap(*x, *y);
}

/* Web Mercator row (fractional) of a latitude at zoom z. */
double mercator_row(int z, double lat)
{
    const double limit = 85.0511287798066;
    lat = std::max(-limit, std::min(limit, lat));
    double s = sin(lat * M_PI / 180);
    return (0.5 - log((1 + s) / (1 - s)) / (4 * M_PI)) * ldexp(1.0, z);
}

}  // namespace

uint64_t tile_id(int z, uint32_t x, uint32_t y)
{
    uint64_t n = uint64_t(1) << z, tx = x, ty = y, d = 0;
    for (uint64_t s = n / 2; s > 0; s /= 2) {
        uint64_t rx = (tx & s) ? 1 : 0, ry = (ty & s) ? 1 : 0;
        d += s * s * ((3 * rx) ^ ry);
        turn(n, &tx, &ty, rx, ry);
    }
    return tiles_below(z) + d;
}

bool tile_of_id(uint64_t id, int *z, uint32_t *x, uint32_t *y)
{
    int zoom = 0;
    while (zoom <= kMaxTileZoom && id >= tiles_below(zoom + 1)) zoom++;
    if (zoom > kMaxTileZoom) return false;
    uint64_t n = uint64_t(1) << zoom, t = id - tiles_below(zoom), tx = 0, ty = 0;
    for (uint64_t s = 1; s < n; s *= 2) {
        uint64_t rx = 1 & (t / 2), ry = 1 & (t ^ rx);
        turn(s, &tx, &ty, rx, ry);
        tx += s * rx;
        ty += s * ry;
        t /= 4;
    }
    *z = zoom;
    *x = static_cast<uint32_t>(tx);
    *y = static_cast<uint32_t>(ty);
    return true;
}

void put_varint(std::string *out, uint64_t v)
{
    while (v >= 0x80) {
        out->push_back(static_cast<char>((v & 0x7f) | 0x80));
        v >>= 7;
    }
    out->push_back(static_cast<char>(v));
}

void region_columns(int z, const orvextool::Region &region, std::vector<uint32_t> *columns, uint32_t *row0,
                    uint32_t *row1)
{
    const long n = 1L << z;
    double scale = static_cast<double>(n) / 360.0;
    long first = static_cast<long>(floor((region.west + 180) * scale));
    /* A region ending on a tile's edge does not touch the tile beyond. */
    long last = static_cast<long>(ceil((region.east + 180) * scale)) - 1;
    if (last < first) last = first;
    if (last - first >= n) last = first + n - 1;
    columns->clear();
    for (long c = first; c <= last; c++) columns->push_back(static_cast<uint32_t>(((c % n) + n) % n));
    std::sort(columns->begin(), columns->end());
    columns->erase(std::unique(columns->begin(), columns->end()), columns->end());
    double top = mercator_row(z, region.north), bottom = mercator_row(z, region.south);
    long r0 = static_cast<long>(floor(top)), r1 = static_cast<long>(ceil(bottom)) - 1;
    r0 = std::max(0L, std::min(n - 1, r0));
    r1 = std::max(r0, std::min(n - 1, r1));
    *row0 = static_cast<uint32_t>(r0);
    *row1 = static_cast<uint32_t>(r1);
}

std::vector<uint64_t> tiles_of_region(int min_zoom, int max_zoom, const orvextool::Region &region)
{
    std::vector<uint64_t> ids;
    std::vector<uint32_t> columns;
    for (int z = min_zoom; z <= max_zoom; z++) {
        uint32_t row0 = 0, row1 = 0;
        region_columns(z, region, &columns, &row0, &row1);
        for (uint32_t x : columns)
            for (uint32_t y = row0; y <= row1; y++) ids.push_back(tile_id(z, x, y));
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

}  // namespace orvextiles
