// Finding and removing the points that would spoil a filled shape: points
// that repeat an earlier one, and points that start an edge crossing an
// earlier edge. Detection looks at most 100 indexes ahead of each point, so
// its cost grows linearly with the length of the ring.

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include "VectorGeometry.h"

namespace {

const int kWindow = 100;
const double kDegreesPerMicrodegree = 0.000001;

// The bad indexes found so far. The map is the result handed back; the
// byte per index beside it only makes the "is it bad" test, asked about a
// hundred times per point, a plain load. Without memory for the bytes the
// map alone answers, with the same results.
class BadMarks {
public:
    BadMarks(Array<int, int> &map, int npts) : map_(map), bytes_(nullptr)
    {
        if (npts > 0)
            bytes_ = static_cast<unsigned char *>(orvex_calloc(static_cast<size_t>(npts), 1));
    }
    ~BadMarks() { free(bytes_); }
    BadMarks(const BadMarks &) = delete;
    BadMarks &operator=(const BadMarks &) = delete;

    bool contains(int i) const { return bytes_ ? bytes_[i] != 0 : map_.contains(i); }
    void mark(int i)
    {
        map_.set(i, 1);
        if (bytes_) bytes_[i] = 1;
    }

private:
    Array<int, int> &map_;
    unsigned char *bytes_;
};

// The first index after `from`, below `end`, that is not bad; -1 if none.
int next_good(const BadMarks &bad, int from, int end)
{
    for (int i = from + 1; i < end; i++)
        if (!bad.contains(i)) return i;
    return -1;
}

int window_end(int ipt, int npts)
{
    return ipt + kWindow < npts - 2 ? ipt + kWindow : npts - 2;
}

// Marks every later point within the window that repeats an earlier one.
void find_equal_points(const OrvexXY *data, int data_type, int npts, BadMarks &bad)
{
    for (int ipt = 0; ipt < npts; ipt++) {
        if (bad.contains(ipt)) continue;
        OrvexPoint p;
        orvex_getPoint(p, data_type, data + ipt);
        int end = window_end(ipt, npts);
        for (int ipt2 = ipt + 1; ipt2 < end; ipt2++) {
            if (bad.contains(ipt2)) continue;
            OrvexPoint p2;
            orvex_getPoint(p2, data_type, data + ipt2);
            if (p2.x != p.x || p2.y != p.y) continue;
            printf("Equal points near %.6f %.6f between %d=%ld,%ld and %d=%ld,%ld npoints %d\n",
                   p.x * kDegreesPerMicrodegree, p.y * kDegreesPerMicrodegree, ipt, p.x, p.y, ipt2,
                   p2.x, p2.y, npts);
            bad.mark(ipt2);
        }
    }
}

// The box of an edge, to reject candidate edges before the exact test
// (the same rejection the exact test starts with).
struct EdgeBox {
    long xlo, xhi, ylo, yhi;
    EdgeBox(OrvexPoint a, OrvexPoint b)
        : xlo(a.x < b.x ? a.x : b.x), xhi(a.x < b.x ? b.x : a.x), ylo(a.y < b.y ? a.y : b.y),
          yhi(a.y < b.y ? b.y : a.y)
    {
    }
    bool apart(OrvexPoint a, OrvexPoint b) const
    {
        return (a.x > xhi && b.x > xhi) || (a.x < xlo && b.x < xlo) || (a.y > yhi && b.y > yhi) ||
               (a.y < ylo && b.y < ylo);
    }
};

// Tests the anchor edge from `ipt` to its next good point against every
// later edge of good points within the window; marks the first point of
// each edge that meets it. An edge ends at the next good point, which then
// starts the following edge: marking the start of one edge never changes
// where the next one begins.
void find_crossings_from(const OrvexXY *data, int data_type, int npts, int ipt, BadMarks &bad)
{
    int end = window_end(ipt, npts);
    int ipt1 = next_good(bad, ipt, end);
    if (ipt1 < 0) return;
    int ipt2 = next_good(bad, ipt1, end);
    if (ipt2 < 0) return;
    OrvexPoint p, q1, p2, q2;
    orvex_getPoint(p, data_type, data + ipt);
    orvex_getPoint(q1, data_type, data + ipt1);
    orvex_getPoint(p2, data_type, data + ipt2);
    const EdgeBox anchor(p, q1);
    for (int ipt3; (ipt3 = next_good(bad, ipt2, end)) >= 0; ipt2 = ipt3, p2 = q2) {
        orvex_getPoint(q2, data_type, data + ipt3);
        if (anchor.apart(p2, q2) || !orvex_doIntersect(p, q1, p2, q2)) continue;
        printf("Crossing near %.6f %.6f between %d=%ld,%ld %d=%ld,%ld and %d=%ld,%ld %d=%ld,%ld "
               "npoints %d\n",
               p.x * kDegreesPerMicrodegree, p.y * kDegreesPerMicrodegree, ipt, 0L, 0L, ipt1,
               q1.x - p.x, q1.y - p.y, ipt2, p2.x - p.x, p2.y - p.y, ipt3, q2.x - p.x, q2.y - p.y,
               npts);
        bad.mark(ipt2);
    }
}

// A big-endian point, through the host's conversion. Kept apart so that the
// host-order reads of the detection loops stay in registers.
__attribute__((noinline)) void read_big_endian(OrvexPoint &p, const OrvexXY *pt)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(pt);
    int lon, lat;
    N2H4(reinterpret_cast<unsigned char *>(&lon), bytes, 1);
    N2H4(reinterpret_cast<unsigned char *>(&lat), bytes + 4, 1);
    p.x = lon;
    p.y = lat;
}

// Decodes the segment's points into `out` in host order with continuous
// longitudes. Returns false when a longitude would leave the 32-bit range
// (a ring winding around the globe several times).
bool decode_unwrapped(const OrvexXY *pts, long npts, int data_type, OrvexXY *out)
{
    OrvexLonUnwrapper unwrap;
    for (long i = 0; i < npts; i++) {
        OrvexPoint p;
        orvex_getPoint(p, data_type, pts + i);
        long x = unwrap.next(p.x);
        if (x < INT_MIN || x > INT_MAX) return false;
        out[i].lon_microdegrees = static_cast<int>(x);
        out[i].lat_microdegrees = static_cast<int>(p.y);
    }
    return true;
}

}  // namespace

void orvex_getPoint(OrvexPoint &p, int data_type, const OrvexXY *pt)
{
    if (data_type == ORVEX_DATA_GSHHS) {
        read_big_endian(p, pt);
        return;
    }
    // Point arrays inside a map file need not be aligned: copy the bytes.
    int v[2];
    memcpy(v, pt, sizeof v);
    p.x = v[0];
    p.y = v[1];
}

int orvex_orientation(OrvexPoint p, OrvexPoint q, OrvexPoint r)
{
    // 128-bit products: exact even for corrupt points far outside the globe.
    __int128 val = static_cast<__int128>(q.y - p.y) * (r.x - q.x) -
                   static_cast<__int128>(q.x - p.x) * (r.y - q.y);
    if (val == 0) return 0;
    return val > 0 ? 1 : 2;
}

bool orvex_onSegment(OrvexPoint p, OrvexPoint q, OrvexPoint r)
{
    long xlo = p.x < r.x ? p.x : r.x, xhi = p.x < r.x ? r.x : p.x;
    long ylo = p.y < r.y ? p.y : r.y, yhi = p.y < r.y ? r.y : p.y;
    return q.x >= xlo && q.x <= xhi && q.y >= ylo && q.y <= yhi;
}

bool orvex_doIntersect(OrvexPoint p1, OrvexPoint q1, OrvexPoint p2, OrvexPoint q2)
{
    // Boxes apart on either axis: the edges cannot meet. Equal coordinates
    // never reject, so touching boxes go on to the exact test.
    long lo1 = p1.x < q1.x ? p1.x : q1.x, hi1 = p1.x < q1.x ? q1.x : p1.x;
    if ((p2.x > hi1 && q2.x > hi1) || (p2.x < lo1 && q2.x < lo1)) return false;
    lo1 = p1.y < q1.y ? p1.y : q1.y;
    hi1 = p1.y < q1.y ? q1.y : p1.y;
    if ((p2.y > hi1 && q2.y > hi1) || (p2.y < lo1 && q2.y < lo1)) return false;

    int o1 = orvex_orientation(p1, q1, p2);
    int o2 = orvex_orientation(p1, q1, q2);
    int o3 = orvex_orientation(p2, q2, p1);
    int o4 = orvex_orientation(p2, q2, q1);
    if (o1 != o2 && o3 != o4) return true;
    if (o1 == 0 && orvex_onSegment(p1, p2, q1)) return true;
    if (o2 == 0 && orvex_onSegment(p1, q2, q1)) return true;
    if (o3 == 0 && orvex_onSegment(p2, p1, q2)) return true;
    if (o4 == 0 && orvex_onSegment(p2, q1, q2)) return true;
    return false;
}

void orvex_findVectorDataBadPoints(const OrvexXY *data, int data_type, int npts,
                                   Array<int, int> &bad_points)
{
    bad_points.clear();
    BadMarks bad(bad_points, npts);
    find_equal_points(data, data_type, npts, bad);
    // Crossings are looked for only once every repeated point is out.
    for (int ipt = 0; ipt < npts; ipt++)
        if (!bad.contains(ipt)) find_crossings_from(data, data_type, npts, ipt, bad);
}

int orvex_purgeVectorDataBadPoints(OrvexVectorSegment *segment, int data_type, Orvex *owner)
{
    if (segment->npts > INT_MAX) {
        orvex_register_error(0,
                             "orvex_purgeVectorDataBadPoints: segment of %ld points is too long "
                             "to check.\n",
                             segment->npts);
        return -1;
    }
    long npts = segment->npts > 0 ? segment->npts : 0;
    OrvexXY *copy = static_cast<OrvexXY *>(orvex_calloc(static_cast<size_t>(npts), sizeof(OrvexXY)));
    if (!copy) {
        orvex_register_error(1, "orvex_purgeVectorDataBadPoints: malloc(OrvexXY) error.\n");
        return -1;
    }
    if (!decode_unwrapped(segment->pts, npts, data_type, copy)) {
        free(copy);
        orvex_register_error(0,
                             "orvex_purgeVectorDataBadPoints: segment winds around the globe too "
                             "often for 32-bit longitudes.\n");
        return -1;
    }

    Array<int, int> bad;
    orvex_findVectorDataBadPoints(copy, ORVEX_DATA_ORX, static_cast<int>(npts), bad);
    if (bad.empty()) {
        free(copy);
        return 0;
    }
    // The copy now belongs to the object holding the segment; the old array
    // (perhaps inside a mapped file) is left as it is.
    if (owner && OrvexPrivate::adoptPoints(owner, copy) < 0) {
        free(copy);
        orvex_register_error(0, "orvex_purgeVectorDataBadPoints: Orvex::adoptPoints() error.\n");
        return -1;
    }
    long kept = 0;
    for (long i = 0; i < npts; i++)
        if (!bad.contains(static_cast<int>(i))) memcpy(&copy[kept++], &segment->pts[i], sizeof(OrvexXY));
    segment->npts = kept;
    segment->pts = copy;
    return 0;
}
