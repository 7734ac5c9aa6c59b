// One part of a shapefile record turned into segment points: integer
// microdegrees, the unwrapped box, and the running sums of the mean point
// spacing.

#include <stdint.h>
#include <stdlib.h>

#include "OrvexInternal.h"

namespace {

// 0 for a line, 1 for an area, -1 for shapes that give no segment. The Z
// and M forms are lines and areas too: their x and y are read, the z and m
// values were never part of a segment.
int fill_of_shape(int shape_type)
{
    switch (shape_type) {
    case 3: case 13: case 23: return 0;
    case 5: case 15: case 25: return 1;
    default: return -1;
    }
}

// Degrees to microdegrees, halves rounded away from zero. A value outside
// the 32-bit range (or NaN) is refused rather than wrapped into some other
// place on the globe.
bool to_microdegrees(double degrees, int *out)
{
    double m = degrees * 1000000.0;
    m = m < 0 ? m - 0.5 : m + 0.5;
    if (!(m > -2147483649.0 && m < 2147483648.0)) return false;
    *out = static_cast<int>(m);
    return true;
}

// The bounds of a part, proved to lie within the record's points so that a
// hand-made record cannot send the copy outside its arrays.
bool part_bounds(const ESRISHPRECPOLYGStr *polyg, int part, int *first, int *next)
{
    *first = polyg->parts ? polyg->parts[part] : -1;
    *next = part < polyg->numparts - 1 ? polyg->parts[part + 1] : polyg->numpoints;
    return *first >= 0 && *first <= *next && *next <= polyg->numpoints &&
           (*next == *first || polyg->points != nullptr);
}

}  // namespace

int Orvex::scanESRIREC(ESRISHPRECStr *record, int part, int *fill, int *npts, OrvexXY **points,
                       long *nave, double *dave, int *ilatmin, int *ilatmax, int *ilonmin,
                       int *ilonmax)
{
    const double d2r = ORVEX_D2R;
    *npts = 0;
    int f = fill_of_shape(record->shape_type);
    if (f < 0) return 1;
    *fill = f;
    const ESRISHPRECPOLYGStr *polyg = static_cast<const ESRISHPRECPOLYGStr *>(record->record);
    if (!polyg || part < 0 || part >= polyg->numparts) return 1;

    int ipt0, ipt_next;
    if (!part_bounds(polyg, part, &ipt0, &ipt_next)) {
        orvex_register_error(0,
                             "Orvex::scanESRIREC: part %d runs from point %d to %d, outside the %d "
                             "points of the record.\n",
                             part, ipt0, ipt_next, polyg->numpoints);
        return -1;
    }
    *npts = ipt_next - ipt0;
    if (*npts == 0) return 0;

    OrvexXY *pts = static_cast<OrvexXY *>(orvex_calloc(static_cast<size_t>(*npts), sizeof(OrvexXY)));
    if (!pts) {
        orvex_register_error(1, "Orvex::scanESRIREC: malloc(OrvexXY) error.\n");
        return -1;
    }
    OrvexLonUnwrapper unwrap;
    double lat_prev = 0.0, lon_prev = 0.0;
    for (int ipt = ipt0; ipt < ipt_next; ipt++) {
        const ESRISHPPOINTStr &p = polyg->points[ipt];
        int x, y;
        if (!to_microdegrees(p.x, &x) || !to_microdegrees(p.y, &y)) {
            orvex_register_error(0,
                                 "Orvex::scanESRIREC: point %d (%g, %g) does not fit 32-bit "
                                 "microdegrees.\n",
                                 ipt, p.x, p.y);
            free(pts);
            return -1;
        }
        OrvexXY &out = pts[ipt - ipt0];
        out.lon_microdegrees = x;
        out.lat_microdegrees = y;
        double lat = y * 1e-6, lon = x * 1e-6;
        long ux = unwrap.next(x);
        if (ux < INT32_MIN || ux > INT32_MAX) {
            // A line that winds around the globe many times: its box would
            // no longer be a 32-bit value.
            orvex_register_error(0,
                                 "Orvex::scanESRIREC: point %d unwraps to longitude %ld "
                                 "microdegrees, beyond 32 bits.\n",
                                 ipt, ux);
            free(pts);
            return -1;
        }
        if (ipt > ipt0) {
            double delta, az;
            dist(lat_prev * d2r, lon_prev * d2r, lat * d2r, lon * d2r, &delta, &az);
            *dave += delta / d2r;
            (*nave)++;
        }
        int xu = static_cast<int>(ux);
        if (ipt == ipt0 || xu < *ilonmin) *ilonmin = xu;
        if (ipt == ipt0 || xu > *ilonmax) *ilonmax = xu;
        if (ipt == ipt0 || y < *ilatmin) *ilatmin = y;
        if (ipt == ipt0 || y > *ilatmax) *ilatmax = y;
        lat_prev = lat;
        lon_prev = lon;
    }
    *points = pts;
    return 0;
}
