#include "raster_values.h"

#include <math.h>

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

}  // namespace orvextool
