// Colours of a rendered map: the land and sea ramp for elevations, hill
// shading, and the fill colours of shoreline levels.
#ifndef ORVEX_TOOL_PALETTE_H
#define ORVEX_TOOL_PALETTE_H

#include <math.h>

#include <string>
#include <vector>

namespace orvextool {

struct Rgb {
    unsigned char r = 0, g = 0, b = 0;
};

/* Colour of an elevation in metres: blues below sea level (darker with
 * depth), greens, browns and white above. */
Rgb elevation_colour(double metres);
namespace detail {
/* The ramps at every whole metre: land and sea unrounded (3 floats a metre
 * from kRampLow to kRampHigh), water under shorelines (kRampLow to 0). */
const int kRampLow = -11000, kRampHigh = 9000;
const float *land_sea_ramp();
const Rgb *water_ramp();
}  // namespace detail

/* The colour of an elevation (its nearest whole metre, below sea level
 * at least 1 m below) shaded by a factor, rounded once: smooth surfaces
 * stay smooth (and deflate well) pixel to pixel. Inline: relief drawing
 * calls it for every pixel. */
inline Rgb shaded_elevation_colour(double metres, double factor)
{
    using detail::kRampHigh;
    using detail::kRampLow;
    long m = !(metres > kRampLow) ? kRampLow : (!(metres < kRampHigh) ? kRampHigh : static_cast<long>(floor(metres + 0.5)));
    if (metres < 0 && m == 0) m = -1;
    const float *c = detail::land_sea_ramp() + 3 * (m - kRampLow);
    float f = static_cast<float>(factor);
    auto one = [f](float v) {
        float s = v * f + 0.5f;
        return static_cast<unsigned char>(s >= 255 ? 255 : (s < 0.5f ? 0 : static_cast<int>(s)));
    };
    return Rgb{one(c[0]), one(c[1]), one(c[2])};
}
/* Colour of water within shorelines at a depth in metres: a gentle ramp
 * from light blue at the surface; one flat colour at and above sea level
 * (lakes, ponds). */
inline Rgb water_colour(double metres)
{
    using detail::kRampLow;
    if (!(metres > kRampLow)) return detail::water_ramp()[0];
    if (!(metres < 0)) return detail::water_ramp()[-kRampLow];
    return detail::water_ramp()[static_cast<long>(floor(metres + 0.5)) - kRampLow];
}
/* Colour shown where there is no data. */
Rgb nodata_colour();
/* Lambert shading factor (about 0.3 to 1.3) of a surface with the given
 * slopes (metres of rise per metre eastward and northward), lit from the
 * north-west at 45 degrees. Flat ground gives 1. */
inline double hillshade(double dz_east, double dz_north)
{
    /* Unit normal of the surface z(x, y) and a light from the north-west,
     * 45 degrees above the horizon; the result is scaled so that flat ground
     * keeps its colour. Inline and without branches, so that relief
     * drawing runs it over whole vectors. */
    double nx = -dz_east, ny = -dz_north;
    const double lx = -0.5, ly = 0.5, lz = 0.70710678118654752;
    double dot = nx * lx + ny * ly + lz;
    double factor = 0.3 + 0.7 * (dot > 0 ? dot : 0) / (sqrt(nx * nx + ny * ny + 1.0) * lz);
    return factor > 1.3 ? 1.3 : factor;
}
Rgb shade(Rgb colour, double factor);
/* Mixes `over` onto `under`; alpha 1 gives `over`. */
Rgb blend(Rgb under, Rgb over, double alpha);
/* Fill colour of a shoreline level: 1 land, 2 lake, 3 island in a lake,
 * 4 pond; other levels get a neutral grey. */
Rgb level_colour(int level);
/* Colour of lines that outline nothing (borders, rivers, tracks). */
Rgb polyline_colour();
/* Colour of the lines of a line resolution, chosen by its family (see
 * layer_family): borders dark violet, rivers blue, others polyline_colour(). */
Rgb polyline_colour(const std::string &resolution_name);
/* Family of a resolution: its name up to its last '-' ("borders-h" and
 * "borders-l" are both "borders"), or the whole name. Line resolutions
 * of one family are the same lines at different levels of detail. */
std::string layer_family(const std::string &resolution_name);

/* How the lines of a family and class are drawn at a zoom level (web-map
 * zoom: 0 shows the world in 256 pixels, each level doubles it; fractional
 * for other pixel sizes). `draw` false leaves them out at that zoom;
 * widths are in pixels (under 4), `min_extent` is the size in pixels under which a
 * line is not worth drawing, `dash` (0: solid) the length of a dash and of
 * the gap after it. */
struct LineStyle {
    bool draw = false;
    Rgb colour;
    double alpha = 1, width = 1, min_extent = 1, dash = 0;
};
/* Families of line: the shoreline of filled rings (`level` as theirs),
 * borders (level 1 national, 2 internal, 3 marine), rivers (1 double-lined
 * rivers and river-lakes, 2 permanent major rivers, 3 additional major
 * ones, higher levels smaller), anything else. */
enum class LineFamily { shore, borders, rivers, other };
LineFamily line_family(const std::string &family_name);
LineStyle line_style(LineFamily family, int level, double zoom);
/* The web-map zoom whose pixels span `pixel_degrees` of longitude. */
double zoom_of_pixel(double pixel_degrees);

/* Index of the resolution whose spacing (degrees per sample) is nearest,
 * by ratio, to the pixel size; candidates with a spacing of 0 or less are
 * ignored. -1 when there is none. */
int best_spacing(const std::vector<double> &spacings, double pixel_degrees);

}  // namespace orvextool

#endif
