/*
 * Cleaning a polyline before it is written as a filled shape: the point
 * reader for both point encodings, the exact segment meeting test, the
 * detection of repeated points and self-crossings, and the purge. Internal
 * to the library (not exported); the tests reach them through the static
 * archive.
 */
#ifndef ORVEX_VECTORGEOMETRY_H
#define ORVEX_VECTORGEOMETRY_H

#include "Array.h"
#include "OrvexInternal.h"

/* A point widened to 64 bits, so that the products of the orientation test
 * are exact for any two differences of microdegree values. */
struct OrvexPoint {
    long x; /* longitude, microdegrees */
    long y; /* latitude, microdegrees */
};

/* Reads the point at `pt`: big-endian when data_type is 4 (GSHHS), host
 * order otherwise. */
void orvex_getPoint(OrvexPoint &p, int data_type, const OrvexXY *pt);
/* 0 collinear, 1 clockwise, 2 counter-clockwise. */
int orvex_orientation(OrvexPoint p, OrvexPoint q, OrvexPoint r);
/* True when q lies in the closed box spanned by p and r. */
bool orvex_onSegment(OrvexPoint p, OrvexPoint q, OrvexPoint r);
/* True when the closed segments p1-q1 and p2-q2 meet (touching and
 * collinear overlap included). */
bool orvex_doIntersect(OrvexPoint p1, OrvexPoint q1, OrvexPoint p2, OrvexPoint q2);
/* Fills bad_points with the indexes of repeated points and of points that
 * start a crossing edge, looking 100 indexes ahead; prints one diagnostic
 * line per finding on standard output. */
void orvex_findVectorDataBadPoints(const OrvexXY *data, int data_type, int npts,
                                   Array<int, int> &bad_points);
/* Replaces the segment's points by a copy without its bad points (kept in
 * their stored encoding). The copy is adopted by `owner`, the object that
 * holds the segment, and released with it; the old array is left alone.
 * A segment without bad points keeps its own array. Returns 0, or -1 with
 * a registered message and the segment unchanged. */
int orvex_purgeVectorDataBadPoints(OrvexVectorSegment *segment, int data_type, Orvex *owner);

#endif
