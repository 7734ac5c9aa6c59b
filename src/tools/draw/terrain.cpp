// Elevation tiles for 3D clients: the relief's own interpolated elevations,
// each pixel's metres packed into its three bytes, and no picture made of
// them, so that the values arrive exactly.
#include <math.h>

#include "draw.h"

namespace orvexcli {

orvextool::Rgb terrarium_rgb(float metres)
{
    /* In 1/256 m steps from -32768 m: 24 bits, R the highest byte. */
    double steps = std::isnan(metres) ? 32768.0 * 256 : rint((static_cast<double>(metres) + 32768.0) * 256);
    long v = steps < 0 ? 0 : (steps > 0xffffff ? 0xffffff : static_cast<long>(steps));
    return orvextool::Rgb{static_cast<unsigned char>(v >> 16), static_cast<unsigned char>((v >> 8) & 0xff),
                          static_cast<unsigned char>(v & 0xff)};
}

double terrarium_metres(const orvextool::Rgb &rgb)
{
    return rgb.r * 256.0 + rgb.g + rgb.b / 256.0 - 32768.0;
}

int draw_terrain(const std::vector<Orvex *> &maps, const GridRows &rows, const View &view, orvextool::Image *image)
{
    thread_local std::vector<float> values;
    if (sample_grid(maps, rows, view, &values) != 0) return -1;
    *image = orvextool::Image(view.width, view.height, terrarium_rgb(0));
    for (long j = 0; j < view.height; j++)
        for (long i = 0; i < view.width; i++) image->at(i, j) = terrarium_rgb(values[static_cast<size_t>(j * view.width + i)]);
    return 0;
}

}  // namespace orvexcli
