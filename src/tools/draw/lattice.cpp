#include "lattice.h"

#include <math.h>

#include <algorithm>
#include <utility>

#include "map_records.h"
#include "sampler.h"

namespace orvexcli {

Taps taps_at(double q, double scale, long n, bool wraps)
{
    Taps t;
    t.inside = isfinite(q) && fabs(q) < 1e15 && (wraps || (q >= -0.5 && q <= static_cast<double>(n)));
    if (!t.inside) q = 0;
    double x0 = floor(q);
    if (!(scale > 1)) {
        float f = static_cast<float>(q - x0);
        float f2 = f * f, f3 = f2 * f;
        const float cubic[4] = {0.5f * (-f3 + 2 * f2 - f), 0.5f * (3 * f3 - 5 * f2 + 2),
                                0.5f * (-3 * f3 + 4 * f2 + f), 0.5f * (f3 - f2)};
        const float linear[4] = {0, 1 - f, f, 0};
        t.n = 4;
        for (int k = 0; k < 4; k++) {
            t.index[k] = static_cast<long>(x0) - 1 + k;
            t.weight[k] = cubic[k];
            t.fallback[k] = linear[k];
        }
        return t;
    }
    double half = scale < (kMaxTaps - 1) / 2.0 ? scale : (kMaxTaps - 1) / 2.0;
    double sum = 0;
    for (long k = static_cast<long>(ceil(q - half)); k <= static_cast<long>(floor(q + half)) && t.n < kMaxTaps; k++) {
        double w = 1 - fabs(static_cast<double>(k) - q) / half;
        if (!(w > 0)) continue;
        t.index[t.n] = k;
        t.weight[t.n] = static_cast<float>(w);
        sum += w;
        t.n++;
    }
    for (int k = 0; k < t.n; k++) t.fallback[k] = t.weight[k] = static_cast<float>(t.weight[k] / sum);
    return t;
}

bool Lattice::init(Orvex *map, int r)
{
    resolution = r;
    res = &map->frame.resolutions[r];
    grid = grid_of(*res);
    if (!grid || tile_bytes(*grid) < 0 || res->nlat_tiles < 1 || res->nlon_tiles < 1 ||
        __builtin_mul_overflow(grid->nlat_per_tile, res->nlat_tiles, &nrows) ||
        __builtin_mul_overflow(grid->nlon_per_tile, res->nlon_tiles, &ncols) || !(grid->dlat != 0) ||
        !(grid->dlon != 0) || !isfinite(grid->dlat) || !isfinite(grid->dlon)) {
        orvex_register_error(0, "orvex: resolution %d is no grid of whole tiles.\n", r);
        return false;
    }
    channels = grid->content == 1 ? 1 : 3;
    wraps = covers_full_circle(*res);
    return true;
}

double Lattice::row_at(double lat) const
{
    return (lat - grid->lat_start) / grid->dlat;
}

double Lattice::col_at(double lon) const
{
    double d = lon - grid->lon_start;
    if (!(fabs(d) < 360.0)) d = fmod(d, 360.0);
    if (wraps) return d / grid->dlon;
    for (double turn : {0.0, -360.0, 360.0}) {
        double q = (d + turn) / grid->dlon;
        if (q >= -0.5 && q <= static_cast<double>(ncols)) return q;
    }
    return d / grid->dlon;
}

long Lattice::turned(Orvex *map, long x) const
{
    if (x >= 0 && x < ncols) return x;
    if (!wraps) return -1;
    int tile = -1;
    long row, col, offset;
    map->findNearestPixel(const_cast<OrvexResolution *>(res), grid->lat_start,
                          grid->lon_start + static_cast<double>(x) * grid->dlon, &tile, &row, &col, &offset);
    if (tile < 0) return -1;
    return (tile % res->nlon_tiles) * grid->nlon_per_tile + col;
}

namespace {

/* The distinct indices the taps name, sorted (only those in 0 .. n - 1
 * when n >= 0), and the taps rewritten to index that list; taps off the
 * lattice get its size, the NaN row or column. */
std::vector<long> distinct(std::vector<Taps> *taps, long n)
{
    std::vector<long> list;
    for (const Taps &t : *taps)
        for (int k = 0; k < t.n; k++)
            if (t.inside && (n < 0 || (t.index[k] >= 0 && t.index[k] < n))) list.push_back(t.index[k]);
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    long none = static_cast<long>(list.size());
    for (Taps &t : *taps) {
        for (int k = 0; k < t.n; k++) {
            auto at = std::lower_bound(list.begin(), list.end(), t.index[k]);
            t.index[k] = t.inside && at != list.end() && *at == t.index[k] ? at - list.begin() : none;
        }
    }
    return list;
}

/* (tile row or column, window index) pairs sorted by tile. */
std::vector<std::pair<long, long>> by_tile(const std::vector<long> &lattice_index, long per_tile)
{
    std::vector<std::pair<long, long>> out;
    for (size_t k = 0; k < lattice_index.size(); k++)
        if (lattice_index[k] >= 0) out.emplace_back(lattice_index[k] / per_tile, static_cast<long>(k));
    std::sort(out.begin(), out.end());
    return out;
}

void copy_samples(const Lattice &l, const unsigned char *p, long ry, long cx, long wr, long wc, Window *w)
{
    long at = wr * w->cols + wc;
    if (l.channels == 1) {
        const unsigned char *s = p + (ry * l.grid->nlon_per_tile + cx) * 2;
        /* Big-endian raw grids are delivered as stored. */
        bool big = l.res->data_type == ORVEX_DATA_DEMB;
        short v = static_cast<short>(big ? (s[0] << 8 | s[1]) : (s[1] << 8 | s[0]));
        w->planes[0][static_cast<size_t>(at)] = v == ORVEX_NODATA ? NAN : static_cast<float>(v);
        return;
    }
    const unsigned char *s = p + (ry * l.grid->nlon_per_tile + cx) * 3;
    for (int c = 0; c < 3; c++) w->planes[c][static_cast<size_t>(at)] = s[c];
}

}  // namespace

int read_window(Orvex *map, const Lattice &l, TileAccess &tiles, std::vector<Taps> row_taps,
                std::vector<Taps> col_taps, Window *w)
{
    /* Rows off the lattice read nothing; columns are turned first. */
    std::vector<long> rows = distinct(&row_taps, l.nrows);
    std::vector<long> cols = distinct(&col_taps, -1);
    std::vector<long> turned(cols.size());
    for (size_t k = 0; k < cols.size(); k++) turned[k] = l.turned(map, cols[k]);
    w->rows = static_cast<long>(rows.size()) + 1;
    w->cols = static_cast<long>(cols.size()) + 1;
    for (int c = 0; c < l.channels; c++) w->planes[c].assign(static_cast<size_t>(w->rows * w->cols), NAN);
    std::vector<std::pair<long, long>> trows = by_tile(rows, l.grid->nlat_per_tile);
    std::vector<std::pair<long, long>> tcols = by_tile(turned, l.grid->nlon_per_tile);
    for (size_t a = 0; a < trows.size();) {
        size_t a1 = a;
        while (a1 < trows.size() && trows[a1].first == trows[a].first) a1++;
        for (size_t b = 0; b < tcols.size();) {
            size_t b1 = b;
            while (b1 < tcols.size() && tcols[b1].first == tcols[b].first) b1++;
            const unsigned char *p = nullptr;
            long tile = trows[a].first * l.res->nlon_tiles + tcols[b].first;
            if (tiles.samples(static_cast<int>(tile), &p) != 0) return -1;
            for (size_t i = a; i < a1; i++) {
                long wr = trows[i].second, ry = rows[static_cast<size_t>(wr)] % l.grid->nlat_per_tile;
                for (size_t k = b; k < b1; k++) {
                    long wc = tcols[k].second;
                    copy_samples(l, p, ry, turned[static_cast<size_t>(wc)] % l.grid->nlon_per_tile, wr, wc, w);
                }
            }
            b = b1;
        }
        a = a1;
    }
    w->row_taps = std::move(row_taps);
    w->col_taps = std::move(col_taps);
    return 0;
}

void interpolate(const Window &w, int channel, std::vector<float> *out)
{
    /* Along rows: for every window row and pixel column, the full sum (NaN
     * when a sample has none) and the fallback sum and weight of the
     * samples with data. */
    size_t ncols = w.col_taps.size();
    /* Kept from band to band, so that their memory is reused. */
    thread_local std::vector<float> full, part, part_w;
    full.resize(static_cast<size_t>(w.rows) * ncols);
    part.resize(full.size());
    part_w.resize(full.size());
    for (long r = 0; r < w.rows; r++) {
        const float *p = w.at(channel, r);
        size_t at = static_cast<size_t>(r) * ncols;
        for (size_t i = 0; i < ncols; i++) {
            const Taps &c = w.col_taps[i];
            float f = 0, s = 0, sw = 0;
            for (int k = 0; k < c.n; k++) {
                float v = p[c.index[k]];
                f += c.weight[k] * v;
                if (std::isnan(v)) continue;
                s += c.fallback[k] * v;
                sw += c.fallback[k];
            }
            full[at + i] = f;
            part[at + i] = s;
            part_w[at + i] = sw;
        }
    }
    /* Down columns. */
    out->assign(w.row_taps.size() * ncols, NAN);
    for (size_t j = 0; j < w.row_taps.size(); j++) {
        const Taps &r = w.row_taps[j];
        if (!r.inside) continue;
        float *o = out->data() + j * ncols;
        for (size_t i = 0; i < ncols; i++) {
            if (!w.col_taps[i].inside) continue;
            float v = 0;
            for (int k = 0; k < r.n; k++) v += r.weight[k] * full[static_cast<size_t>(r.index[k]) * ncols + i];
            if (std::isnan(v)) {
                float s = 0, sw = 0;
                for (int k = 0; k < r.n; k++) {
                    size_t at = static_cast<size_t>(r.index[k]) * ncols + i;
                    s += r.fallback[k] * part[at];
                    sw += r.fallback[k] * part_w[at];
                }
                v = sw > 0 ? s / sw : NAN;
            }
            o[i] = v;
        }
    }
}

}  // namespace orvexcli
