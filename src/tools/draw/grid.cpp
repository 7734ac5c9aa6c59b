// The grid under a picture. Every row of pixels (one latitude) and every
// column (one longitude) is located on the lattice once; the samples around
// a band of rows are read out of the tiles together, and each pixel is made
// from them: cubic between samples where pixels are finer than the samples,
// a tent over what a pixel covers where they are coarser, and only among
// samples with data, so no-data never bleeds in. Rows may take their value
// from two grids, weighted, where a finer grid fades out. Bands are shared
// out among threads, which may read through one map object: each holds
// the tile it reads. Values are made one pixel past every edge, so that the hill shading
// of neighbouring pictures (web tiles) matches.
#include <math.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "draw.h"
#include "lattice.h"
#include "map_records.h"
#include "vectors.h"

namespace orvexcli {

namespace {

/* Rows of pixels whose samples are read together. */
const long kBandRows = 32;

/* Every pixel's value with a margin of one pixel all round: (width + 2) x
 * (height + 2), pixel (i, j) at (j + 1) * (width + 2) + i + 1; NaN where no
 * grid gave one. Where grids blend, values are weighted sums and the
 * weights are kept beside them (only then, to spare the memory of large
 * pictures of one grid). */
struct Surface {
    long width, height;
    int channels;
    bool blends;
    std::vector<float> *sum, *weight;
    /* The planes live on in `store` (channels + 1 vectors) from picture to
     * picture, so that a thread drawing tile after tile reuses its memory. */
    Surface(long w, long h, int c, bool blend, std::vector<float> *store)
        : width(w), height(h), channels(c), blends(blend), sum(store), weight(store + 3)
    {
        size_t n = static_cast<size_t>((w + 2) * (h + 2));
        for (int k = 0; k < c; k++) sum[k].assign(n, NAN);
        if (blends) weight->assign(n, 0);
    }
    size_t index(long i, long j) const { return static_cast<size_t>((j + 1) * (width + 2) + i + 1); }
    void add(size_t k, const float *v, float wt)
    {
        for (int c = 0; c < channels; c++) sum[c][k] = std::isnan(sum[c][k]) ? wt * v[c] : sum[c][k] + wt * v[c];
        if (blends) (*weight)[k] += wt;
    }
    float value(int c, long i, long j) const
    {
        size_t k = index(i, j);
        return blends && (*weight)[k] > 0 ? sum[c][k] / (*weight)[k] : sum[c][k];
    }
};

/* A band of consecutive rows of one grid. */
struct Band {
    size_t grid;
    long j0, j1;
};

struct Job {
    const GridRows *rows;
    const View *view;
    std::vector<Band> bands;
    std::vector<std::vector<Taps>> col_taps; /* per grid: columns -1 .. width */
    std::vector<Lattice> lattices;
    Surface *surface;
    std::atomic<size_t> next{0};
    std::atomic<long> done{0};
};

int draw_band(Orvex *map, Job &job, const Band &b, TileAccess &tiles)
{
    const Lattice &l = job.lattices[b.grid];
    std::vector<Taps> row_taps;
    row_taps.reserve(static_cast<size_t>(b.j1 - b.j0));
    for (long j = b.j0; j < b.j1; j++) {
        double q = l.row_at(job.view->lat_at(j + 0.5));
        double scale = fabs(l.row_at(job.view->lat_at(j + 1.0)) - l.row_at(job.view->lat_at(static_cast<double>(j))));
        row_taps.push_back(taps_at(q, scale, l.nrows));
    }
    Window w;
    if (read_window(map, l, tiles, std::move(row_taps), job.col_taps[b.grid], &w) != 0) return -1;
    tiles.band_done();
    thread_local std::vector<float> values[3];
    for (int c = 0; c < l.channels; c++) interpolate(w, c, &values[c]);
    const std::vector<float> &weights = job.rows->weights[b.grid];
    Surface &s = *job.surface;
    size_t ncols = static_cast<size_t>(s.width + 2);
    for (long j = b.j0; j < b.j1; j++) {
        float wt = weights[static_cast<size_t>(j + 1)];
        size_t row = static_cast<size_t>(j - b.j0) * ncols;
        for (size_t i = 0; i < ncols; i++) {
            float v[3];
            bool valid = true;
            for (int c = 0; c < l.channels && valid; c++) valid = !std::isnan(v[c] = values[c][row + i]);
            if (valid) s.add(s.index(static_cast<long>(i) - 1, j), v, wt);
        }
    }
    return 0;
}

struct Worker {
    Orvex *map;
    int rc = 0;
    std::vector<std::string> messages;
};

void run_worker(Job *job, Worker *me, bool reports, const std::function<void(long, long)> *progress)
{
    size_t grid = static_cast<size_t>(-1);
    std::unique_ptr<TileAccess> tiles;
    for (size_t k; (k = job->next++) < job->bands.size();) {
        const Band &b = job->bands[k];
        if (b.grid != grid) {
            grid = b.grid;
            tiles.reset(new TileAccess(me->map, job->lattices[grid].resolution));
        }
        if (draw_band(me->map, *job, b, *tiles) != 0) {
            me->rc = -1;
            for (int m = 0; m < elog_count(); m++) me->messages.push_back(elog_message(m));
            elog_clear_register(0);
            job->next = job->bands.size();
            return;
        }
        long done = ++job->done;
        if (reports && progress && *progress) (*progress)(done, static_cast<long>(job->bands.size()));
    }
}

/* Bands of at most kBandRows rows where grid g has weight, in row order. */
void add_bands(const GridRows &rows, size_t g, std::vector<Band> *bands)
{
    const std::vector<float> &w = rows.weights[g];
    long n = static_cast<long>(w.size());
    for (long k = 0; k < n;) {
        if (!(w[static_cast<size_t>(k)] > 0)) {
            k++;
            continue;
        }
        long end = k;
        while (end < n && end - k < kBandRows && w[static_cast<size_t>(end)] > 0) end++;
        bands->push_back(Band{g, k - 1, end - 1});
        k = end;
    }
}

/* Interpolated values of every grid over the surface, on the maps'
 * threads. */
int fill_surface(const std::vector<Orvex *> &maps, const GridRows &rows, const View &view,
                 Surface *surface, const std::function<void(long, long)> &progress)
{
    Job job;
    job.rows = &rows;
    job.view = &view;
    job.surface = surface;
    for (size_t g = 0; g < rows.grids.size(); g++) {
        job.lattices.emplace_back();
        if (!job.lattices.back().init(maps[0], rows.grids[g])) return -1;
        if (job.lattices.back().channels != surface->channels) {
            orvex_register_error(0, "orvex: grid resolution %d mixes colours and elevations with another.\n",
                                 rows.grids[g]);
            return -1;
        }
        const Lattice &l = job.lattices.back();
        std::vector<Taps> cols;
        cols.reserve(static_cast<size_t>(view.width + 2));
        for (long i = -1; i <= view.width; i++)
            cols.push_back(taps_at(l.col_at(view.lon_at(i + 0.5)), view.dlon() / fabs(l.grid->dlon), l.ncols, l.wraps));
        job.col_taps.push_back(std::move(cols));
        add_bands(rows, g, &job.bands);
    }
    std::vector<Worker> workers(maps.size());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < maps.size(); t++) workers[t].map = maps[t];
    for (size_t t = 1; t < maps.size(); t++) threads.emplace_back(run_worker, &job, &workers[t], false, &progress);
    run_worker(&job, &workers[0], true, &progress);
    for (std::thread &t : threads) t.join();
    for (const Worker &w : workers) {
        if (w.rc == 0) continue;
        for (const std::string &m : w.messages) orvex_register_error(0, "%s", m.c_str());
        return -1;
    }
    return 0;
}

/* Land takes its ramp (at least sea level) and shading. Water under a
 * shoreline takes the gentle water ramp, unshaded; without shorelines, the
 * sea's depth ramp, gently shaded. */
orvextool::Rgb relief_colour(float z, double factor, int land, bool covered)
{
    /* Most pixels are all land or all water: only the coast's need both. */
    if (land >= 255) return orvextool::shaded_elevation_colour(z < 0 ? 0 : z, factor);
    orvextool::Rgb water = covered ? orvextool::water_colour(z) : orvextool::shaded_elevation_colour(z, 1 + (factor - 1) * 0.5);
    if (land <= 0) return water;
    return orvextool::blend(water, orvextool::shaded_elevation_colour(z < 0 ? 0 : z, factor), land / 255.0);
}

/* The hill-shading factor of n pixels of a row (`mid`, with the rows
 * above and below; index -1 and n are the pixels either side), kx and ky
 * turning differences into slopes. A missing neighbour counts as level
 * with the pixel. One simple loop with no call, so that the compiler runs
 * it over whole vectors: shading is most of a tile's arithmetic. */
void shading_factors(const float *up, const float *mid, const float *down, long n, double kx, double ky, double *factor)
{
    for (long i = 0; i < n; i++) {
        float c = mid[i];
        float e = std::isnan(mid[i + 1]) ? c : mid[i + 1], w = std::isnan(mid[i - 1]) ? c : mid[i - 1];
        float a = std::isnan(up[i]) ? c : up[i], b = std::isnan(down[i]) ? c : down[i];
        factor[i] = orvextool::hillshade((e - w) * kx, (a - b) * ky);
    }
}

/* Rows j0 to j1 - 1 of an elevation surface: coloured by land cover (or,
 * without one, by the elevation's sign) and shaded. */
void shade_rows(const Surface &s, const View &view, const LandCover *cover, long j0, long j1, orvextool::Image *image)
{
    bool covered = cover && cover->any;
    std::vector<float> up(static_cast<size_t>(s.width + 2)), mid(up.size()), down(up.size());
    std::vector<double> factor(static_cast<size_t>(s.width));
    auto load = [&](long j, std::vector<float> *row) {
        for (long i = -1; i <= s.width; i++) (*row)[static_cast<size_t>(i + 1)] = s.value(0, i, j);
    };
    load(j0 - 1, &up);
    load(j0, &mid);
    for (long j = j0; j < j1; j++) {
        load(j + 1, &down);
        double dx_m, dy_m;
        view.pixel_metres(static_cast<double>(j), &dx_m, &dy_m);
        double ex = relief_exaggeration(dx_m);
        shading_factors(up.data() + 1, mid.data() + 1, down.data() + 1, s.width, ex / (2 * dx_m), ex / (2 * dy_m),
                        factor.data());
        for (long i = 0; i < s.width; i++) {
            float c = mid[static_cast<size_t>(i + 1)];
            int land = covered ? cover->land[static_cast<size_t>(j * s.width + i)] : (c >= 0 ? 255 : 0);
            if (std::isnan(c)) {
                image->at(i, j) = covered ? (land >= 128 ? orvextool::level_colour(1) : orvextool::water_colour(0))
                                          : orvextool::nodata_colour();
                continue;
            }
            image->at(i, j) = relief_colour(c, factor[static_cast<size_t>(i)], land, covered);
        }
        std::swap(up, mid);
        std::swap(mid, down);
    }
}

void colour_rows(const Surface &s, long j0, long j1, orvextool::Image *image)
{
    auto byte = [](float v) { return static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : lrintf(v))); };
    for (long j = j0; j < j1; j++) {
        for (long i = 0; i < s.width; i++) {
            float r = s.value(0, i, j);
            image->at(i, j) = std::isnan(r) ? orvextool::nodata_colour()
                                            : orvextool::Rgb{byte(r), byte(s.value(1, i, j)), byte(s.value(2, i, j))};
        }
    }
}

/* Colouring reads only the surface, so threads share out the rows. */
void colour_surface(const Surface &s, const View &view, const LandCover *cover, long threads, orvextool::Image *image)
{
    auto rows = [&](long j0, long j1) {
        if (s.channels == 1) shade_rows(s, view, cover, j0, j1, image);
        else colour_rows(s, j0, j1, image);
    };
    std::vector<std::thread> workers;
    for (long t = 1; t < threads; t++)
        workers.emplace_back(rows, view.height * t / threads, view.height * (t + 1) / threads);
    rows(0, view.height / threads);
    for (std::thread &w : workers) w.join();
}

}  // namespace

/* A function of the ground size alone, so that neighbouring pictures
 * agree row by row. */
double relief_exaggeration(double pixel_metres)
{
    double e = 2.0 * sqrt(pixel_metres / 1000.0);
    return e < 1 ? 1 : (e > 40 ? 40 : e);
}

int draw_grid(const std::vector<Orvex *> &maps, const GridRows &rows, const View &view,
              const LandCover *cover, orvextool::Image *image, const std::function<void(long, long)> &progress)
{
    if (rows.grids.empty()) return 0;
    const OrvexGrid *first = grid_of(maps[0]->frame.resolutions[rows.grids[0]]);
    thread_local std::vector<float> store[4];
    Surface s(view.width, view.height, first && first->content != 1 ? 3 : 1, rows.grids.size() > 1, store);
    if (fill_surface(maps, rows, view, &s, progress) != 0) return -1;
    colour_surface(s, view, cover, static_cast<long>(maps.size()), image);
    return 0;
}

int sample_grid(const std::vector<Orvex *> &maps, const GridRows &rows, const View &view, std::vector<float> *values)
{
    values->assign(static_cast<size_t>(view.width * view.height), NAN);
    if (rows.grids.empty()) return 0;
    thread_local std::vector<float> store[4];
    Surface s(view.width, view.height, 1, rows.grids.size() > 1, store);
    if (fill_surface(maps, rows, view, &s, nullptr) != 0) return -1;
    for (long j = 0; j < view.height; j++)
        for (long i = 0; i < view.width; i++) (*values)[static_cast<size_t>(j * view.width + i)] = s.value(0, i, j);
    return 0;
}

}  // namespace orvexcli
