// The order a build writes its tiles in. Resolutions follow each other,
// except that consecutive grid resolutions sampling the same raw grid (one
// uncompressed source tile) are written together, band by band: their rows
// of tiles are taken in the order of the first source row each stands for,
// the finer resolution first where two start on the same row. One pass
// down the source then serves every resolution built from it: its pages
// are read once, and a fed source is supplied once, holding only the band
// the rows of tiles in flight read. Within a resolution the tiles keep their
// order, so each index entry and payload is the same; only the payloads'
// places in the file follow the new order.

#include "OrvexInternal.h"
#include "grid_tile_writer.h"

namespace {

// The raw grid resolution r samples when its tiles can be taken band by
// band with others, else null.
const Orvex *band_source(Orvex *o, int r)
{
    const OrvexResolution &d = o->frame.resolutions[r];
    if (d.map_type != ORVEX_MAP_GRID || !d.data || d.nlon_tiles < 1 || d.ntiles <= 0) return nullptr;
    const OrvexInput *in = orvex_grid_registered_input(o, r);
    if (!in || in->resolution != 0 || in->tile != 0 || in->input->frame.nresolutions != 1) return nullptr;
    const OrvexResolution &s = in->input->frame.resolutions[0];
    if (s.map_type != ORVEX_MAP_GRID || !s.data || s.ntiles != 1 || static_cast<const OrvexGrid *>(s.data)->compressed)
        return nullptr;
    return in->input;
}

}  // namespace

OrvexTileOrder::OrvexTileOrder(Orvex *o) : o_(o), row_(static_cast<size_t>(o->frame.nresolutions > 0 ? o->frame.nresolutions : 0), 0) {}

// Tiles of resolution r a row of tiles holds: all of them when it is not
// cut in rows.
long OrvexTileOrder::per_row(int r) const
{
    const OrvexResolution &d = o_->frame.resolutions[r];
    return d.map_type == ORVEX_MAP_GRID && d.data && d.nlon_tiles > 0 ? d.nlon_tiles : d.ntiles;
}

long OrvexTileOrder::rows(int r) const
{
    long n = per_row(r);
    return n > 0 ? (o_->frame.resolutions[r].ntiles + n - 1) / n : 0;
}

// The first source row row i of tiles of resolution r stands for.
long OrvexTileOrder::row_start(int r, long i) const
{
    const OrvexResolution &d = o_->frame.resolutions[r];
    if (d.map_type != ORVEX_MAP_GRID || !d.data) return 0;
    const OrvexGrid *g = static_cast<const OrvexGrid *>(d.data);
    long dec = g->decimation_factor < 1 ? 1 : g->decimation_factor;
    return i * g->nlat_per_tile * dec;
}

bool OrvexTileOrder::next_group()
{
    int n = o_->frame.nresolutions;
    g0_ = g1_;
    while (g0_ < n && o_->frame.resolutions[g0_].ntiles <= 0) g0_++;
    if (g0_ >= n) return false;
    g1_ = g0_ + 1;
    const Orvex *src = band_source(o_, g0_);
    while (src && g1_ < n && band_source(o_, g1_) == src) g1_++;
    fresh_ = true;
    return true;
}

bool OrvexTileOrder::next(int *r, long *t)
{
    if (left_ > 0) {
        left_--;
        first_ = false;
        *r = cur_r_;
        *t = ++cur_t_;
        return true;
    }
    for (;;) {
        int best = -1;
        for (int k = g0_; k < g1_; k++)
            if (row_[k] < rows(k) && (best < 0 || row_start(k, row_[k]) < row_start(best, row_[best]))) best = k;
        if (best >= 0) {
            long n = per_row(best);
            cur_r_ = best;
            cur_t_ = row_[best]++ * n;
            long end = cur_t_ + n < o_->frame.resolutions[best].ntiles ? cur_t_ + n : o_->frame.resolutions[best].ntiles;
            left_ = end - cur_t_ - 1;
            first_ = fresh_;
            fresh_ = false;
            *r = cur_r_;
            *t = cur_t_;
            return true;
        }
        if (!next_group()) return false;
    }
}

long OrvexTileOrder::band_start() const
{
    return row_start(cur_r_, cur_t_ / per_row(cur_r_));
}

long OrvexTileOrder::band_end() const
{
    return row_start(cur_r_, cur_t_ / per_row(cur_r_) + 1);
}

long OrvexTileOrder::keep_from() const
{
    long keep = -1;
    for (int k = g0_; k < g1_; k++) {
        long t = k == cur_r_ && left_ > 0 ? cur_t_ + 1 : row_[k] < rows(k) ? row_[k] * per_row(k) : -1;
        Orvex *in;
        long a, b;
        if (t < 0 || !orvex_grid_tile_fed_rows(o_, k, t, &in, &a, &b)) continue;
        keep = keep < 0 || a < keep ? a : keep;
    }
    return keep;
}
