#include "palette.h"

#include <math.h>

namespace orvextool {

namespace {

struct Stop {
    double z;
    Rgb c;
};

Rgb mix(Rgb a, Rgb b, double t)
{
    Rgb out;
    out.r = static_cast<unsigned char>(lround(a.r + (b.r - a.r) * t));
    out.g = static_cast<unsigned char>(lround(a.g + (b.g - a.g) * t));
    out.b = static_cast<unsigned char>(lround(a.b + (b.b - a.b) * t));
    return out;
}

Rgb ramp(const Stop *stops, int n, double z)
{
    if (z <= stops[0].z) return stops[0].c;
    for (int i = 1; i < n; i++) {
        if (z <= stops[i].z)
            return mix(stops[i - 1].c, stops[i].c, (z - stops[i - 1].z) / (stops[i].z - stops[i - 1].z));
    }
    return stops[n - 1].c;
}

const Stop kSea[] = {
    {-11000, {8, 16, 64}}, {-6000, {16, 40, 110}}, {-3000, {30, 80, 160}},
    {-200, {70, 140, 200}}, {0, {140, 200, 230}},
};
/* Water under a shoreline: light and gentle, darker only slowly with depth. */
const Stop kWater[] = {
    {-11000, {70, 118, 186}}, {-6000, {86, 138, 200}}, {-3000, {108, 160, 214}},
    {-200, {140, 188, 228}}, {0, {160, 202, 236}},
};
const Stop kLand[] = {
    {0, {60, 130, 70}},     {300, {120, 170, 90}},  {1000, {200, 190, 120}},
    {2000, {170, 130, 80}}, {3500, {130, 100, 80}}, {5000, {230, 230, 230}},
    {9000, {255, 255, 255}},
};

/* The ramp's colour unrounded, channel by channel. */
void ramp_exact(const Stop *stops, int n, double z, double out[3])
{
    const Stop *a = &stops[0], *b = &stops[0];
    double t = 0;
    if (z > stops[0].z) {
        int i = 1;
        while (i < n - 1 && z > stops[i].z) i++;
        a = &stops[i - 1];
        b = &stops[i];
        t = z >= b->z ? 1 : (z - a->z) / (b->z - a->z);
    }
    out[0] = a->c.r + (b->c.r - a->c.r) * t;
    out[1] = a->c.g + (b->c.g - a->c.g) * t;
    out[2] = a->c.b + (b->c.b - a->c.b) * t;
}

}  // namespace

namespace detail {

const float *land_sea_ramp()
{
    static const std::vector<float> table = [] {
        std::vector<float> t(3 * static_cast<size_t>(kRampHigh - kRampLow + 1));
        for (int m = kRampLow; m <= kRampHigh; m++) {
            double c[3];
            if (m < 0) ramp_exact(kSea, sizeof kSea / sizeof kSea[0], m, c);
            else ramp_exact(kLand, sizeof kLand / sizeof kLand[0], m, c);
            for (int k = 0; k < 3; k++) t[3 * static_cast<size_t>(m - kRampLow) + static_cast<size_t>(k)] = static_cast<float>(c[k]);
        }
        return t;
    }();
    return table.data();
}

const Rgb *water_ramp()
{
    static const std::vector<Rgb> table = [] {
        std::vector<Rgb> t(static_cast<size_t>(-kRampLow) + 1);
        for (int m = kRampLow; m <= 0; m++) t[static_cast<size_t>(m - kRampLow)] = ramp(kWater, sizeof kWater / sizeof kWater[0], m);
        return t;
    }();
    return table.data();
}

}  // namespace detail

Rgb elevation_colour(double metres)
{
    if (metres < 0) return ramp(kSea, sizeof kSea / sizeof kSea[0], metres);
    return ramp(kLand, sizeof kLand / sizeof kLand[0], metres);
}

Rgb nodata_colour()
{
    return Rgb{200, 200, 200};
}

Rgb shade(Rgb colour, double factor)
{
    auto one = [factor](unsigned char v) {
        double s = v * factor + 0.5;
        return static_cast<unsigned char>(s >= 255 ? 255 : (s < 0.5 ? 0 : static_cast<int>(s)));
    };
    return Rgb{one(colour.r), one(colour.g), one(colour.b)};
}

Rgb blend(Rgb under, Rgb over, double alpha)
{
    if (alpha <= 0) return under;
    if (alpha >= 1) return over;
    return mix(under, over, alpha);
}

Rgb level_colour(int level)
{
    switch (level) {
    case 1: return Rgb{222, 205, 160}; /* land */
    case 2: return Rgb{110, 165, 215}; /* lake */
    case 3: return Rgb{205, 190, 145}; /* island in a lake */
    case 4: return Rgb{130, 180, 225}; /* pond on such an island */
    default: return Rgb{180, 180, 180};
    }
}

Rgb polyline_colour()
{
    return Rgb{200, 30, 30};
}

Rgb polyline_colour(const std::string &resolution_name)
{
    const std::string family = layer_family(resolution_name);
    if (family == "borders") return Rgb{110, 20, 110};
    if (family == "rivers") return Rgb{40, 90, 200};
    return polyline_colour();
}

LineFamily line_family(const std::string &family_name)
{
    if (family_name == "borders") return LineFamily::borders;
    if (family_name == "rivers") return LineFamily::rivers;
    if (family_name.compare(0, 5, "shore") == 0) return LineFamily::shore;
    return LineFamily::other;
}

double zoom_of_pixel(double pixel_degrees)
{
    return pixel_degrees > 0 ? log2(360.0 / 256.0 / pixel_degrees) : 0;
}

namespace {

/* A value growing linearly from `at_low` at zoom `low` to `at_high` at zoom
 * `high`, and flat beyond either. */
double by_zoom(double zoom, double low, double at_low, double high, double at_high)
{
    if (zoom <= low) return at_low;
    if (zoom >= high) return at_high;
    return at_low + (at_high - at_low) * (zoom - low) / (high - low);
}

/* The coast is drawn once, thin and darker than any water, so that it
 * reads as the edge of the land rather than as a line of its own; lake
 * shores the same, but only where the lake is big enough to show one. */
LineStyle shore_style(int level, double zoom)
{
    LineStyle s;
    s.draw = true;
    s.colour = Rgb{40, 75, 115};
    s.width = by_zoom(zoom, 2, 0.5, 8, 1.0);
    s.alpha = by_zoom(zoom, 0, 0.6, 6, 0.9);
    s.min_extent = level == 1 ? 1 : by_zoom(zoom, 0, 6, 6, 2);
    return s;
}

/* Rivers appear class by class as the scale grows: the permanent major
 * rivers first, and only long ones at first; the double-lined ones (the
 * banks of wide rivers and river-lakes, a pair of lines at small scales)
 * and the additional major rivers once there is room for them. */
LineStyle river_style(int level, double zoom)
{
    LineStyle s;
    const double first_zoom[] = {3.0, 3.0, 1.0, 4.0, 6.0};
    double start = level >= 0 && level <= 4 ? first_zoom[level] : first_zoom[4] + (level - 4);
    if (zoom < start) return s;
    s.draw = true;
    s.colour = Rgb{55, 115, 195};
    double major = level <= 2 ? 0.25 : 0.0;
    s.width = by_zoom(zoom, start, 0.45 + major, start + 6, 1.4 + major);
    s.alpha = by_zoom(zoom, start, 0.55, start + 3, 0.9);
    s.min_extent = by_zoom(zoom, start, 8, start + 4, 3);
    return s;
}

/* National borders thin and soft at small scales, dashed once there is
 * room; internal and marine ones later and lighter. */
LineStyle border_style(int level, double zoom)
{
    LineStyle s;
    double start = level <= 1 ? 0.0 : 3.0 + level;
    if (zoom < start) return s;
    s.draw = true;
    s.colour = level <= 1 ? Rgb{115, 80, 130} : Rgb{145, 120, 155};
    s.width = by_zoom(zoom, 1, 0.45, 8, 1.3);
    s.alpha = by_zoom(zoom, 0, 0.45, 5, 0.9);
    s.min_extent = by_zoom(zoom, 0, 4, 4, 1);
    s.dash = zoom >= 5 ? by_zoom(zoom, 5, 5, 9, 9) : 0;
    return s;
}

}  // namespace

LineStyle line_style(LineFamily family, int level, double zoom)
{
    switch (family) {
    case LineFamily::shore: return shore_style(level, zoom);
    case LineFamily::rivers: return river_style(level, zoom);
    case LineFamily::borders: return border_style(level, zoom);
    default: break;
    }
    LineStyle s;
    s.draw = true;
    s.colour = polyline_colour();
    s.width = by_zoom(zoom, 0, 0.6, 8, 1.2);
    s.alpha = 0.9;
    return s;
}

std::string layer_family(const std::string &resolution_name)
{
    size_t dash = resolution_name.rfind('-');
    return dash == std::string::npos || dash == 0 ? resolution_name : resolution_name.substr(0, dash);
}

int best_spacing(const std::vector<double> &spacings, double pixel_degrees)
{
    int best = -1;
    double best_score = 0;
    for (size_t i = 0; i < spacings.size(); i++) {
        double s = spacings[i];
        if (!(s > 0) || !(pixel_degrees > 0)) continue;
        double score = fabs(log(s / pixel_degrees));
        if (best < 0 || score < best_score) {
            best = static_cast<int>(i);
            best_score = score;
        }
    }
    return best;
}

}  // namespace orvextool
