// Making the samples of one output tile from windows of source samples:
// the highest valid elevation of each window, or its average colour.
//
// Every window sample is read by its row and column in the source tile,
// never through a latitude and longitude: a round trip through degrees
// truncates y * dlat / dlat to y - 1 for most steps that are not binary
// fractions. Window rows outside the source tile are skipped; window
// columns outside it are turned by whole turns when the tile reaches all
// the way round, and skipped otherwise. The byte offsets of the rows and
// columns a tile's windows visit are found once per tile. Each output row
// is then made in two passes: down the window rows into one value per
// source column (runs of adjacent columns are read straight through), then
// across the window columns of each output sample. Windows that fall in a
// hole of a sparse source file are not read at all.

#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <limits>

#include "OrvexInternal.h"
#include "grid_tile_writer.h"
#include "sample_index.h"

namespace {

// A run of table columns k0 .. k1 - 1 whose samples lie side by side in
// the source tile, the first at byte offset `off` of its row.
struct Run {
    long k0, k1, off;
};

// Per tile: the byte offsets of the window rows and columns (-1 where no
// source sample lies), the column runs, and the working rows.
struct Windows {
    long wlen = 0;            // window rows (and columns) per output sample
    long nrows = 0, ncols = 0;
    long nruns = 0;
    long *rows = nullptr;     // by window row - (ilat - dec0)
    long *cols = nullptr;     // by window column - (ilon - dec0)
    long *live = nullptr;     // rows of the current output row that hold samples
    Run *runs = nullptr;
    int64_t *acc = nullptr;   // per table column: 1 (elevation) or 4 (colour) values
    unsigned char *out = nullptr;  // one output row of samples
    void *block = nullptr;

    ~Windows() { free(block); }

    int build(const OrvexTileJob &j)
    {
        long ss = j.sg->content == 1 ? 2 : 3;
        long out_cols = j.dg->nlon_per_tile;
        wlen = j.dec0 + j.dec1;
        // Windows spanning more than 2^36 source samples a side could not
        // be held anyway; refusing them keeps the sizes below from
        // overflowing (the allocation of anything near it fails cleanly).
        const long kMaxSpan = 1L << 36;
        if (j.dec > kMaxSpan || j.dg->nlat_per_tile > kMaxSpan / j.dec ||
            out_cols > kMaxSpan / j.dec)
            return orvex_tile_writer_fail(0, "output tile too large.");
        nrows = j.dg->nlat_per_tile > 0 ? (j.dg->nlat_per_tile - 1) * j.dec + wlen : 0;
        ncols = out_cols > 0 ? (out_cols - 1) * j.dec + wlen : 0;
        size_t bytes = sizeof(long) * static_cast<size_t>(nrows + ncols + wlen) +
                       sizeof(Run) * static_cast<size_t>(ncols) +
                       sizeof(int64_t) * 4 * static_cast<size_t>(ncols) +
                       static_cast<size_t>(out_cols) * 3;
        block = orvex_calloc(bytes, 1);
        if (!block) return orvex_tile_writer_fail(1, "malloc(window tables) error.");
        char *p = static_cast<char *>(block);
        acc = reinterpret_cast<int64_t *>(p);
        p += sizeof(int64_t) * 4 * static_cast<size_t>(ncols);
        rows = reinterpret_cast<long *>(p);
        cols = rows + nrows;
        live = cols + ncols;
        p = reinterpret_cast<char *>(live + wlen);
        runs = reinterpret_cast<Run *>(p);
        out = reinterpret_cast<unsigned char *>(runs + ncols);

        for (long k = 0; k < nrows; k++) {
            long y = j.ilat - j.dec0 + k;  // latitudes never wrap
            rows[k] = y >= 0 && y < j.src_nlat ? y * j.src_nlon * ss : -1;
        }
        for (long k = 0; k < ncols; k++) {
            long c = orvex_turned_column(j.ilon - j.dec0 + k, j.src_nlon, j.period);
            cols[k] = c >= 0 ? c * ss : -1;
        }
        for (long k = 0; k < ncols;) {
            if (cols[k] < 0) {
                k++;
                continue;
            }
            Run &run = runs[nruns++];
            run.k0 = k;
            run.off = cols[k];
            while (++k < ncols && cols[k] == cols[k - 1] + ss) {}
            run.k1 = k;
        }
        return 0;
    }

    // The window rows of output row r that hold samples; returns their count.
    long live_rows(long r, long dec)
    {
        long n = 0;
        for (long k = 0; k < wlen; k++)
            if (rows[r * dec + k] >= 0) live[n++] = rows[r * dec + k];
        return n;
    }
};

template <bool Swap>
inline int32_t elevation_at(const unsigned char *p)
{
    uint16_t u;
    memcpy(&u, p, 2);
    if (Swap) u = static_cast<uint16_t>((u << 8) | (u >> 8));
    return static_cast<int16_t>(u);
}

// Samples of a source row read in place: a payload of a map file may begin
// at any byte, so they are taken as 16-bit values of byte alignment.
typedef int16_t UnalignedSample __attribute__((aligned(1)));

// a[k] becomes the higher of itself and the k-th valid sample of p, for n
// samples; no data stands in as the lowest value of A. A plain loop over
// the row, the stand-in chosen by a mask, so that it runs over whole
// vectors (16-bit sums take twice as many samples a vector as 32-bit
// ones). In 16 bits the stand-in is also a valid elevation, -32768: the
// result is false when the row holds one, and the caller then works in
// 32 bits.
template <typename A, bool Swap>
bool max_into(A *__restrict a, const unsigned char *p, long n)
{
    const UnalignedSample *v = reinterpret_cast<const UnalignedSample *>(p);
    const A lowest = std::numeric_limits<A>::min();
    int16_t lowest_seen = 0;
    for (long k = 0; k < n; k++) {
        uint16_t u = static_cast<uint16_t>(v[k]);
        if (Swap) u = static_cast<uint16_t>((u << 8) | (u >> 8));
        int16_t s = static_cast<int16_t>(u);
        lowest_seen = static_cast<int16_t>(lowest_seen | (s == INT16_MIN));
        A nodata = static_cast<A>(-static_cast<A>(s == ORVEX_NODATA));  // all ones
        A x = static_cast<A>((static_cast<A>(s) & ~nodata) | (lowest & nodata));
        a[k] = a[k] > x ? a[k] : x;
    }
    return sizeof(A) > 2 || lowest_seen == 0;
}

// Highest valid elevation per table column over the live rows; the lowest
// value of A where none. False when 16 bits cannot tell (see max_into).
template <typename A, bool Swap>
bool column_maxima(const OrvexTileJob &j, const Windows &w, long nlive, A *acc)
{
    for (long k = 0; k < w.ncols; k++) acc[k] = std::numeric_limits<A>::min();
    bool exact = true;
    for (long i = 0; i < nlive; i++) {
        const unsigned char *row = j.src + w.live[i];
        for (long r = 0; r < w.nruns; r++) {
            const Run &run = w.runs[r];
            exact = max_into<A, Swap>(acc + run.k0, row + run.off, run.k1 - run.k0) && exact;
        }
    }
    return exact;
}

// One output row from the column maxima: the highest of each window's
// columns, and the lowest and highest valid value of the row in *lo, *hi
// (*hi stays the lowest value of A when none is valid).
template <typename A>
void take_windows(const A *acc, long out_cols, long dec, long wlen, int16_t *out, int32_t *lo, int32_t *hi)
{
    const A none = std::numeric_limits<A>::min();
    A low = std::numeric_limits<A>::max(), high = none;
    for (long c = 0; c < out_cols; c++) {
        const A *a = acc + c * dec;
        A m = a[0];
        for (long k = 1; k < wlen; k++) m = m > a[k] ? m : a[k];
        bool found = m != none;
        out[c] = static_cast<int16_t>(found ? m : static_cast<A>(ORVEX_NODATA));  // host order
        low = found && m < low ? m : low;
        high = m > high ? m : high;
    }
    *lo = low;
    *hi = high == none ? INT32_MIN : high;
}

// Lowers *zmin and raises *zmax to the valid samples of a row. No-data
// samples stand in as the top of the range for the minimum and the bottom
// for the maximum, so the loop is two plain minima and maxima the compiler
// runs over whole vectors; only a row with no valid sample leaves the
// minimum above the maximum. The stand-ins are chosen with a mask rather
// than a condition: GCC leaves the conditional form of this loop scalar,
// at a seventh of the speed.
void widen_range(const int16_t *v, long n, long *zmin, long *zmax)
{
    int16_t lo = INT16_MAX, hi = INT16_MIN;
    for (long c = 0; c < n; c++) {
        int16_t x = v[c];
        int16_t nodata = static_cast<int16_t>(-static_cast<int16_t>(x == ORVEX_NODATA));  // all ones
        int16_t low = static_cast<int16_t>((x & ~nodata) | (INT16_MAX & nodata));
        int16_t high = static_cast<int16_t>((x & ~nodata) | (INT16_MIN & nodata));
        lo = low < lo ? low : lo;
        hi = high > hi ? high : hi;
    }
    if (lo > hi) return;
    if (*zmin == ORVEX_NODATA || *zmin > lo) *zmin = lo;
    if (*zmax == ORVEX_NODATA || *zmax < hi) *zmax = hi;
}

// Decimation 1: every window is one sample, so each output row is a copy
// of the runs of its source row.
template <bool Swap>
int copy_elevation(const OrvexTileJob &j, Windows &w, OrvexPayloadSink &sink, long *zmin,
                   long *zmax)
{
    int16_t *out = reinterpret_cast<int16_t *>(w.out);
    const long out_rows = j.dg->nlat_per_tile, out_cols = j.dg->nlon_per_tile;
    bool whole = w.nruns == 1 && w.runs[0].k0 == 0 && w.runs[0].k1 >= out_cols;
    for (long r = 0; r < out_rows; r++) {
        if (!whole || w.rows[r] < 0)
            for (long c = 0; c < out_cols; c++) out[c] = ORVEX_NODATA;
        if (w.rows[r] >= 0) {
            const unsigned char *row = j.src + w.rows[r];
            for (long k = 0; k < w.nruns; k++) {
                const Run &run = w.runs[k];
                long n = (run.k1 < out_cols ? run.k1 : out_cols) - run.k0;
                if (!Swap) {
                    memcpy(out + run.k0, row + run.off, static_cast<size_t>(n) * 2);
                    continue;
                }
                for (long c = 0; c < n; c++)
                    out[run.k0 + c] = static_cast<int16_t>(elevation_at<true>(row + run.off + 2 * c));
            }
        }
        widen_range(out, out_cols, zmin, zmax);
        if (sink.append(w.out, static_cast<size_t>(out_cols) * 2, 2) < 0) return -1;
    }
    return 0;
}

// True when the file holds no data (a hole, read as zeros) in any row
// [y0, y1) of the source between byte columns c0 and c1. Each step asks
// for the next data from where the search stands and skips to the first
// row whose bytes it could reach; a failing call answers false, so only a
// file that says so is taken for a hole.
bool rows_are_holes(int fd, off_t base, long stride, long y0, long y1, long c0, long c1)
{
    for (long y = y0; y < y1;) {
        off_t data = lseek(fd, base + static_cast<off_t>(y) * stride + c0, SEEK_DATA);
        if (data < 0) return errno == ENXIO;  // no data up to the end of the file
        long rel = static_cast<long>(data - base);
        long r = rel / stride + (rel % stride >= c1 ? 1 : 0);  // first row whose range ends past it
        if (r >= y1) return true;
        off_t range = base + static_cast<off_t>(r) * stride + c0;
        if (data >= range) return false;  // data inside the range of row r
        off_t hole = lseek(fd, data, SEEK_HOLE);
        if (hole < 0 || hole > range) return false;  // the data reaches into it
        y = r;
    }
    return true;
}

// True when every sample the tile's windows read lies in a hole of the
// source file: zeros, whose windows all give zero.
bool windows_in_hole(const OrvexTileJob &j, const Windows &w)
{
    if (j.src_fd < 0 || w.nruns == 0) return false;
    long first = -1, last = -1;
    for (long k = 0; k < w.nrows; k++) {
        if (w.rows[k] < 0) continue;
        if (first < 0) first = k;
        last = k;
    }
    if (first < 0) return false;
    long c0 = w.runs[0].off, c1 = 0;
    for (long r = 0; r < w.nruns; r++) {
        c0 = w.runs[r].off < c0 ? w.runs[r].off : c0;
        long end = w.runs[r].off + (w.runs[r].k1 - w.runs[r].k0) * 2;
        c1 = end > c1 ? end : c1;
    }
    int saved = errno;
    long stride = j.src_nlon * 2, y0 = w.rows[first] / stride, y1 = w.rows[last] / stride + 1;
    bool holes = rows_are_holes(j.src_fd, j.src_at, stride, y0, y1, c0, c1);
    errno = saved;
    return holes;
}

// A tile whose windows read only zeros: rows of zeros, the range 0 to 0.
int zero_elevation(const OrvexTileJob &j, Windows &w, OrvexPayloadSink &sink, long *zmin, long *zmax)
{
    const long out_rows = j.dg->nlat_per_tile, out_cols = j.dg->nlon_per_tile;
    memset(w.out, 0, static_cast<size_t>(out_cols) * 2);
    for (long r = 0; r < out_rows; r++)
        if (sink.append(w.out, static_cast<size_t>(out_cols) * 2, 2) < 0) return -1;
    if (out_rows > 0 && out_cols > 0) *zmin = *zmax = 0;
    return 0;
}

template <bool Swap>
int sample_elevation(const OrvexTileJob &j, Windows &w, OrvexPayloadSink &sink, long *zmin,
                     long *zmax)
{
    if (j.dec == 1) return copy_elevation<Swap>(j, w, sink, zmin, zmax);
    int16_t *acc16 = reinterpret_cast<int16_t *>(w.acc);
    int32_t *acc32 = reinterpret_cast<int32_t *>(w.acc);
    int16_t *out = reinterpret_cast<int16_t *>(w.out);
    const long out_rows = j.dg->nlat_per_tile, out_cols = j.dg->nlon_per_tile;
    for (long r = 0; r < out_rows; r++) {
        long nlive = w.live_rows(r, j.dec);
        // The range of the row's valid samples: the lowest and highest of
        // them, whatever their order, is what the running range keeps.
        int32_t lo, hi;
        if (column_maxima<int16_t, Swap>(j, w, nlive, acc16)) {
            take_windows(acc16, out_cols, j.dec, w.wlen, out, &lo, &hi);
        } else {
            column_maxima<int32_t, Swap>(j, w, nlive, acc32);
            take_windows(acc32, out_cols, j.dec, w.wlen, out, &lo, &hi);
        }
        if (hi != INT32_MIN) {
            if (*zmin == ORVEX_NODATA || *zmin > lo) *zmin = lo;
            if (*zmax == ORVEX_NODATA || *zmax < hi) *zmax = hi;
        }
        if (sink.append(w.out, static_cast<size_t>(out_cols) * 2, 2) < 0) return -1;
    }
    return 0;
}

// Moves the colour's lightness toward `lightmin` and applies `gamma`,
// keeping each channel's offset from the middle value.
void adjust_colour(int64_t rgb[3], double gamma, double lightmin)
{
    int64_t mn = rgb[0], mx = rgb[0];
    for (int i = 1; i < 3; i++) {
        if (rgb[i] < mn) mn = rgb[i];
        if (rgb[i] > mx) mx = rgb[i];
    }
    int64_t mave = (mx + mn) / 2;
    double lit = 0.5 * static_cast<double>(mx + mn) / 255.0;
    if (gamma > 0) lit = pow(lit, gamma);
    lit = lightmin + (1.0 - lightmin) * lit;
    double middle = 255.0 * lit;
    // A NaN lightness keeps the middle value; others are bounded before the
    // conversion, which cannot change the clamped channels.
    int64_t mid = isnan(middle) ? mave : static_cast<int64_t>(fmax(-1024.0, fmin(1024.0, middle)));
    for (int i = 0; i < 3; i++) {
        int64_t v = rgb[i] - mave + mid;
        rgb[i] = v < 0 ? 0 : v > 255 ? 255 : v;
    }
}

// Channel sums and sample counts per table column over the live rows.
void column_sums(const OrvexTileJob &j, const Windows &w, long nlive, int64_t *acc)
{
    memset(acc, 0, sizeof(int64_t) * 4 * static_cast<size_t>(w.ncols));
    for (long i = 0; i < nlive; i++) {
        const unsigned char *row = j.src + w.live[i];
        for (long r = 0; r < w.nruns; r++) {
            const Run &run = w.runs[r];
            const unsigned char *p = row + run.off;
            for (long k = run.k0; k < run.k1; k++, p += 3) {
                int64_t *a = acc + 4 * k;
                a[0] += p[0];
                a[1] += p[1];
                a[2] += p[2];
                a[3] += 1;
            }
        }
    }
}

int sample_colour(const OrvexTileJob &j, Windows &w, OrvexPayloadSink &sink, double gamma,
                  double lightmin)
{
    const bool adjust = !(lightmin == 0.0 && gamma == 1.0);
    const long out_rows = j.dg->nlat_per_tile, out_cols = j.dg->nlon_per_tile;
    for (long r = 0; r < out_rows; r++) {
        column_sums(j, w, w.live_rows(r, j.dec), w.acc);
        for (long c = 0; c < out_cols; c++) {
            const int64_t *a = w.acc + 4 * c * j.dec;
            int64_t sum[4] = {0, 0, 0, 0};
            for (long k = 0; k < w.wlen; k++)
                for (int i = 0; i < 4; i++) sum[i] += a[4 * k + i];
            // A window that finds no sample is black, without adjustment.
            int64_t rgb[3] = {0, 0, 0};
            if (sum[3] > 0) {
                for (int i = 0; i < 3; i++) rgb[i] = sum[i] / sum[3];
                if (adjust) adjust_colour(rgb, gamma, lightmin);
            }
            for (int i = 0; i < 3; i++) w.out[3 * c + i] = static_cast<unsigned char>(rgb[i]);
        }
        if (sink.append(w.out, static_cast<size_t>(out_cols) * 3, 3) < 0) return -1;
    }
    return 0;
}

}  // namespace

std::atomic<long> orvex_tiles_from_holes{0};

int orvex_sample_tile(const OrvexTileJob &job, OrvexPayloadSink &sink, double gamma,
                      double lightmin, long *zmin, long *zmax)
{
    *zmin = *zmax = ORVEX_NODATA;
    Windows w;
    if (w.build(job) < 0) return -1;
    if (job.dg->content != 1) return sample_colour(job, w, sink, gamma, lightmin);
    // A sparse source (a world of which a few places are written) is not
    // read where it holds nothing: reading would only fault in zero pages.
    if (windows_in_hole(job, w)) {
        orvex_tiles_from_holes++;
        return zero_elevation(job, w, sink, zmin, zmax);
    }
    return job.swap ? sample_elevation<true>(job, w, sink, zmin, zmax)
                    : sample_elevation<false>(job, w, sink, zmin, zmax);
}
