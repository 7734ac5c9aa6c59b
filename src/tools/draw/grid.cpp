// Sampling a grid resolution at the centre of every pixel. Each pixel is
// located on its own through findNearestPixel, so tile edges leave no seam
// and longitudes past 180 degrees wrap like any other. The picture is drawn
// in bands of columns narrow enough that their tiles stay cached from one
// row to the next, whatever the tiles' size and count; the rows of a band
// are shared out among threads, each with a map object (and so cache
// entries) of its own. Elevations are sampled one pixel past every edge, so
// that the hill shading of neighbouring pictures (web tiles) matches.
#include <math.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "map_records.h"
#include "draw.h"
#include "sampler.h"

namespace orvexcli {

namespace {

const double kMetresPerDegree = 111320.0;
/* Tile columns a band of pixels may cross, less one: the band's tiles of
 * two lattice rows stay well inside the cache's 1000 entries. */
const long kBandTiles = 256;

/* Elevations with a margin of one pixel all round: (width + 2) x
 * (height + 2), pixel (i, j) at index (j + 1) * (width + 2) + i + 1; NaN
 * for no data. */
struct Elevations {
    long width, height;
    std::vector<float> z;
    Elevations(long w, long h) : width(w), height(h), z(static_cast<size_t>((w + 2) * (h + 2)), NAN) {}
    float &at(long i, long j) { return z[static_cast<size_t>((j + 1) * (width + 2) + i + 1)]; }
    float at(long i, long j) const { return z[static_cast<size_t>((j + 1) * (width + 2) + i + 1)]; }
};

struct Target {
    Elevations *z;          /* elevation grids */
    orvextool::Image *image; /* colour grids */
};

/* Pixel centres i0 to i1 - 1 of row j (both may lie in the margin). */
int sample_row(GridSampler &sampler, const View &view, long j, long i0, long i1, Target target)
{
    double lat = view.lat_at(static_cast<double>(j) + 0.5);
    for (long i = i0; i < i1; i++) {
        Sample s;
        if (sampler.sample(lat, view.lon_at(static_cast<double>(i) + 0.5), &s) != 0) return -1;
        if (target.z) target.z->at(i, j) = !s.inside || s.z == ORVEX_NODATA ? NAN : static_cast<float>(s.z);
        else target.image->at(i, j) = s.inside ? orvextool::Rgb{s.rgb[0], s.rgb[1], s.rgb[2]} : orvextool::nodata_colour();
    }
    return 0;
}

/* Relief is exaggerated more on coarse pictures, where real slopes over a
 * pixel's width are too gentle to show. Taken from the longitude step, the
 * same for every web tile of a zoom. */
double exaggeration(const View &view)
{
    double pixel_km = view.dlon() * kMetresPerDegree / 1000.0;
    double e = 2.0 * sqrt(pixel_km);
    return e < 1 ? 1 : (e > 40 ? 40 : e);
}

/* Rows j0 to j1 - 1. */
void shade_rows(const Elevations &z, const View &view, long j0, long j1, orvextool::Image *image)
{
    double ex = exaggeration(view);
    for (long j = j0; j < j1; j++) {
        double dx_m, dy_m;
        view.pixel_metres(static_cast<double>(j), &dx_m, &dy_m);
        for (long i = 0; i < view.width; i++) {
            float c = z.at(i, j);
            if (std::isnan(c)) {
                image->at(i, j) = orvextool::nodata_colour();
                continue;
            }
            auto near = [&](long di, long dj) {
                float v = z.at(i + di, j + dj);
                return std::isnan(v) ? c : v;
            };
            double east = (near(1, 0) - near(-1, 0)) / (2 * dx_m) * ex;
            double north = (near(0, -1) - near(0, 1)) / (2 * dy_m) * ex;
            double factor = orvextool::hillshade(east, north);
            if (c < 0) factor = 1 + (factor - 1) * 0.5; /* gentler under the sea */
            image->at(i, j) = orvextool::shade(orvextool::elevation_colour(c), factor);
        }
    }
}

/* Shading reads only the elevations, so threads share out the rows. */
void shade_elevations(const Elevations &z, const View &view, long threads, orvextool::Image *image)
{
    std::vector<std::thread> workers;
    for (long t = 1; t < threads; t++)
        workers.emplace_back(shade_rows, std::cref(z), std::cref(view), view.height * t / threads,
                             view.height * (t + 1) / threads, image);
    shade_rows(z, view, 0, view.height / threads, image);
    for (std::thread &w : workers) w.join();
}

/* Pixels per band of columns: as many as cross at most `tiles` + 1 tile
 * columns, and no more tiles than the memory budget holds twice over, so
 * that every tile is inflated once per band however narrow the tiles are.
 * Tiles too big for that gain nothing from bands. */
long band_width(const OrvexResolution &res, const View &view, long cache_bytes, long tiles_cap, long width)
{
    long bytes = tile_bytes(*grid_of(res));
    long tiles = bytes > 0 ? cache_bytes / 2 / bytes : tiles_cap;
    if (tiles > tiles_cap) tiles = tiles_cap;
    if (tiles < 1) return width;
    double pixels = floor(static_cast<double>(tiles) * fabs(res.dlon_tiles) / view.dlon());
    if (!(pixels < static_cast<double>(width))) return width;
    return pixels < 1 ? 1 : static_cast<long>(pixels);
}

/* What one thread does: rows j0 to j1 - 1 of every band, on its own map
 * object. The first thread reports progress. */
struct Share {
    Orvex *map;
    long j0, j1;
    int rc = 0;
    std::vector<std::string> messages;
};

struct Plan {
    int res;
    const View *view;
    long c0, c1, r0;        /* columns c0 .. c1 - 1, first row r0 */
    long band, entries, bytes;
    Target target;
    const std::function<void(long, long)> *progress;
    long total_rows;
};

int sample_share(const Plan &plan, Share *share, std::atomic<long> *rows_done)
{
    GridSampler sampler(share->map, plan.res);
    for (long i0 = plan.c0; i0 < plan.c1; i0 += plan.band) {
        long i1 = std::min(i0 + plan.band, plan.c1);
        for (long j = share->j0; j < share->j1; j++) {
            if (sample_row(sampler, *plan.view, j, i0, i1, plan.target) != 0) return -1;
            // The band's tiles of this lattice row and the last are newest.
            share->map->cleanCache(plan.bytes, 0);
            share->map->cleanCacheEntries(plan.entries, 0);
            sampler.forget();
            long done = ++*rows_done;
            if (plan.progress && *plan.progress && share->j0 == plan.r0) (*plan.progress)(done, plan.total_rows);
        }
    }
    return 0;
}

void run_share(const Plan &plan, Share *share, std::atomic<long> *rows_done)
{
    share->rc = sample_share(plan, share, rows_done);
    if (share->rc == 0) return;
    for (int k = 0; k < elog_count(); k++) share->messages.push_back(elog_message(k));
    elog_clear_register(0);
}

}  // namespace

int draw_grid(const std::vector<Orvex *> &maps, int res, const View &view, const CacheBudget &budget,
              orvextool::Image *image, const std::function<void(long, long)> &progress)
{
    const OrvexResolution &r = maps[0]->frame.resolutions[res];
    bool elevation = grid_of(r)->content == 1;
    Elevations z(elevation ? view.width : 0, elevation ? view.height : 0);
    long threads = static_cast<long>(maps.size());
    long drawers = threads * std::max(1L, budget.sharers);
    long margin = elevation ? 1 : 0;
    Plan plan{res, &view, -margin, view.width + margin, -margin, 0, 0, budget.bytes,
              Target{elevation ? &z : nullptr, image}, &progress, 0};
    long rows = view.height + 2 * margin;
    /* Every drawing's band tiles of two lattice rows stay within the
     * budget, and one more row of each within the cache's table. */
    long per_thread = std::max(0L, std::min(kBandTiles, budget.entries / (2 * drawers) - 1));
    plan.entries = 2 * (per_thread + 1) * drawers;
    long columns = plan.c1 - plan.c0;
    plan.band = band_width(r, view, budget.bytes, std::max(1L, per_thread), columns);
    plan.total_rows = rows * ((columns + plan.band - 1) / plan.band);
    std::vector<Share> shares;
    for (long t = 0; t < threads; t++)
        shares.push_back(Share{maps[static_cast<size_t>(t)], plan.r0 + rows * t / threads,
                               plan.r0 + rows * (t + 1) / threads, 0, {}});
    std::atomic<long> rows_done{0};
    std::vector<std::thread> workers;
    for (size_t t = 1; t < shares.size(); t++) workers.emplace_back(run_share, std::cref(plan), &shares[t], &rows_done);
    run_share(plan, &shares[0], &rows_done);
    for (std::thread &w : workers) w.join();
    for (const Share &s : shares) {
        if (s.rc == 0) continue;
        for (const std::string &m : s.messages) orvex_register_error(0, "%s", m.c_str());
        return -1;
    }
    if (elevation) shade_elevations(z, view, threads, image);
    return 0;
}

}  // namespace orvexcli
