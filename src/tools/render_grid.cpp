// Sampling a grid resolution at the centre of every pixel. Each pixel is
// located on its own through findTile and findPixelWithinTile, so tile edges
// leave no seam and longitudes past 180 degrees wrap like any other. The
// picture is drawn in bands of columns narrow enough that their tiles stay
// cached from one row to the next, whatever the tiles' size and count.
#include <math.h>

#include <vector>

#include "common.h"
#include "render.h"
#include "sampler.h"

namespace orvexcli {

namespace {

const double kMetresPerDegree = 111320.0;
/* Tile columns a band of pixels may cross, less one: the band's tiles of
 * two lattice rows stay well inside the cache's 1000 entries. */
const long kBandTiles = 256;

/* Elevations (NaN for no data) or colours of pixel centres i0 to i1 - 1 of
 * one row. */
int sample_row(GridSampler &sampler, const View &view, long j, long i0, long i1, std::vector<float> *z,
               orvextool::Image *image)
{
    double lat = view.region.north - (static_cast<double>(j) + 0.5) * view.dlat();
    for (long i = i0; i < i1; i++) {
        double lon = view.region.west + (static_cast<double>(i) + 0.5) * view.dlon();
        Sample s;
        if (sampler.sample(lat, lon, &s) != 0) return -1;
        if (!s.inside) {
            if (z) (*z)[static_cast<size_t>(j * view.width + i)] = NAN;
            else image->at(i, j) = orvextool::nodata_colour();
        } else if (z) {
            (*z)[static_cast<size_t>(j * view.width + i)] = s.z == ORVEX_NODATA ? NAN : static_cast<float>(s.z);
        } else {
            image->at(i, j) = orvextool::Rgb{s.rgb[0], s.rgb[1], s.rgb[2]};
        }
    }
    return 0;
}

float at(const std::vector<float> &z, const View &view, long i, long j)
{
    if (i < 0) i = 0;
    if (j < 0) j = 0;
    if (i >= view.width) i = view.width - 1;
    if (j >= view.height) j = view.height - 1;
    return z[static_cast<size_t>(j * view.width + i)];
}

/* Relief is exaggerated more on coarse pictures, where real slopes over a
 * pixel's width are too gentle to show. */
double exaggeration(const View &view)
{
    double pixel_km = view.dlat() * kMetresPerDegree / 1000.0;
    double e = 2.0 * sqrt(pixel_km);
    return e < 1 ? 1 : (e > 40 ? 40 : e);
}

void shade_elevations(const std::vector<float> &z, const View &view, orvextool::Image *image)
{
    double ex = exaggeration(view);
    double dy_m = view.dlat() * kMetresPerDegree;
    for (long j = 0; j < view.height; j++) {
        double lat = view.region.north - (static_cast<double>(j) + 0.5) * view.dlat();
        double dx_m = view.dlon() * kMetresPerDegree * cos(lat * M_PI / 180.0);
        if (dx_m < 1) dx_m = 1;
        for (long i = 0; i < view.width; i++) {
            float c = at(z, view, i, j);
            if (std::isnan(c)) {
                image->at(i, j) = orvextool::nodata_colour();
                continue;
            }
            auto near = [&](long di, long dj) {
                float v = at(z, view, i + di, j + dj);
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

/* Pixels per band of columns: as many as cross at most kBandTiles + 1 tile
 * columns, and no more tiles than the memory budget holds twice over, so
 * that every tile is inflated once per band however narrow the tiles are.
 * Tiles too big for that gain nothing from bands. */
long band_width(const OrvexResolution &res, const View &view, long cache_bytes)
{
    long bytes = tile_bytes(*grid_of(res));
    long tiles = bytes > 0 ? cache_bytes / 2 / bytes : kBandTiles;
    if (tiles > kBandTiles) tiles = kBandTiles;
    if (tiles < 1) return view.width;
    double pixels = floor(static_cast<double>(tiles) * fabs(res.dlon_tiles) / view.dlon());
    if (!(pixels < static_cast<double>(view.width))) return view.width;
    return pixels < 1 ? 1 : static_cast<long>(pixels);
}

}  // namespace

int draw_grid(Orvex &map, int res, const View &view, long cache_bytes, orvextool::Image *image)
{
    GridSampler sampler(&map, res);
    const OrvexGrid *grid = grid_of(map.frame.resolutions[res]);
    bool elevation = grid->content == 1;
    std::vector<float> z;
    if (elevation) z.assign(static_cast<size_t>(view.width * view.height), NAN);
    long band = band_width(map.frame.resolutions[res], view, cache_bytes);
    for (long i0 = 0; i0 < view.width; i0 += band) {
        long i1 = i0 + band < view.width ? i0 + band : view.width;
        for (long j = 0; j < view.height; j++) {
            if (sample_row(sampler, view, j, i0, i1, elevation ? &z : nullptr, image) != 0) return -1;
            // The band's tiles of this lattice row and the last are newest.
            map.cleanCache(cache_bytes, 0);
            map.cleanCacheEntries(2 * (kBandTiles + 1), 0);
            sampler.forget();
        }
    }
    if (elevation) shade_elevations(z, view, image);
    return 0;
}

}  // namespace orvexcli
