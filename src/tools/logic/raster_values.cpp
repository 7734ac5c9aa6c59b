#include "raster_values.h"

#include <ctype.h>
#include <math.h>

#include <utility>

namespace orvextool {

namespace {

const int kNoData = -9999;

}  // namespace

short elevation_sample(double raw, const ElevationScale &scale, SampleCounts *counts)
{
    if (isnan(raw) || (scale.has_nodata && raw == scale.nodata)) {
        counts->nodata++;
        return kNoData;
    }
    double v = round(raw * scale.scale + scale.offset);
    if (!(v >= -32768.0)) { /* NaN from an infinite raw value lands here too */
        counts->clamped++;
        return v > 0 ? 32767 : -32768;
    }
    if (v > 32767.0) {
        counts->clamped++;
        return 32767;
    }
    return static_cast<short>(v);
}

long strip_rows(long block_rows, long row_bytes, long budget)
{
    if (block_rows < 1) block_rows = 1;
    if (row_bytes < 1) return block_rows;
    long fit = budget / row_bytes;
    if (fit < 1) return 1;
    if (fit < block_rows) return fit;
    return fit / block_rows * block_rows;
}

long piece_cols(long cols, long block_cols, long col_bytes, long most, long budget)
{
    long piece = most > 0 && most < cols ? most : cols;
    long fit = col_bytes > 0 ? budget / col_bytes : piece;
    if (block_cols > 0 && fit >= block_cols) fit = fit / block_cols * block_cols;
    if (fit < 1) fit = 1;
    return piece < fit ? piece : fit;
}

GridPlacement first_sample(const double t[6])
{
    return {t[0] + 0.5 * t[1], t[1], t[3] + 0.5 * t[5], t[5]};
}

void cell_transform(const GridPlacement &p, double t[6])
{
    t[0] = p.lon - 0.5 * p.dlon;
    t[1] = p.dlon;
    t[2] = 0;
    t[3] = p.lat - 0.5 * p.dlat;
    t[4] = 0;
    t[5] = p.dlat;
}

bool centres_on_earth(const double t[6], long cols, long rows)
{
    double lon0 = t[0] + 0.5 * t[1], lon1 = lon0 + (cols - 1) * t[1];
    double lat0 = t[3] + 0.5 * t[5], lat1 = lat0 + (rows - 1) * t[5];
    const double eps = 1e-9;
    return fmin(lat0, lat1) >= -90 - eps && fmax(lat0, lat1) <= 90 + eps && fmin(lon0, lon1) >= -360 - eps &&
           fmax(lon0, lon1) <= 720 + eps && fabs(lon1 - lon0) <= 360 + fabs(t[1]) + eps;
}

void samples_within(double start, double step, long n, double lo, double hi, long *first, long *count)
{
    *first = 0;
    *count = 0;
    if (n < 1 || step == 0) return;
    const double eps = 1e-6;
    double a = (lo - start) / step, b = (hi - start) / step;
    if (step < 0) std::swap(a, b);
    double i0 = ceil(a - eps), i1 = floor(b + eps);
    if (i0 < 0) i0 = 0;
    if (i1 > static_cast<double>(n - 1)) i1 = static_cast<double>(n - 1);
    if (i1 < i0) return;
    *first = static_cast<long>(i0);
    *count = static_cast<long>(i1 - i0) + 1;
}

std::string driver_for_suffix(const std::string &path, bool vector)
{
    struct Suffix {
        const char *suffix, *grid, *vector;
    };
    static const Suffix kSuffixes[] = {
        {".tif", "COG", ""},     {".tiff", "COG", ""},         {".nc", "netCDF", ""},
        {".png", "PNG", ""},     {".img", "HFA", ""},
        {".gpkg", "GPKG", "GPKG"}, {".geojson", "", "GeoJSON"}, {".json", "", "GeoJSON"},
        {".fgb", "", "FlatGeobuf"},
    };
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return "";
    std::string suffix = path.substr(dot);
    for (char &c : suffix) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (const Suffix &s : kSuffixes)
        if (suffix == s.suffix) return vector ? s.vector : s.grid;
    return "";
}

}  // namespace orvextool
