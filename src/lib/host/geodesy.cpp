// Great-circle distance on the sphere. The atan2 form keeps full precision
// for tiny separations (where the cosine formula loses it) and for
// near-antipodal ones (where the haversine formula does).

#include <math.h>

#include "hostkit.h"

extern "C" void dist(double lat1, double lon1, double lat2, double lon2, double *delta,
                     double *az)
{
    double dlon = lon2 - lon1;
    double s1 = sin(lat1), c1 = cos(lat1);
    double s2 = sin(lat2), c2 = cos(lat2);
    double sd = sin(dlon), cd = cos(dlon);
    double y1 = c2 * sd;
    double y2 = c1 * s2 - s1 * c2 * cd;
    double x = s1 * s2 + c1 * c2 * cd;
    if (delta) *delta = atan2(hypot(y1, y2), x);
    if (az) *az = (y1 == 0.0 && y2 == 0.0) ? 0.0 : atan2(y1, y2);
}
