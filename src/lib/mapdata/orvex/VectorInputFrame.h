/*
 * What the two vector inputs (GSHHS files and shapefile tables) are scanned
 * into: one resolution holding one vector with one tile that spans the
 * globe, the tile's segment array growing as segments are found, and the
 * union of the segment boxes kept in the resolution's source block.
 * Internal to the library (not exported).
 */
#ifndef ORVEX_VECTORINPUTFRAME_H
#define ORVEX_VECTORINPUTFRAME_H

#include "OrvexInternal.h"

/* A segment's box in microdegrees, longitudes unwrapped. */
struct OrvexSegmentBox {
    int latmin, latmax, lonmin, lonmax;
};

/* Builds the object's frame: the resolution (data type `data_type`, made
 * from `source_name`), its vector and the vector's one tile, with their
 * fixed fields. Returns 0, or -1 with a registered message; what was
 * already allocated stays attached to the frame for teardown. */
int orvex_build_vector_frame(Orvex *o, long data_type, const char *source_name);

/* Widens the union of the segment boxes in `src` (start and extent in
 * degrees; nlat and nlon become 1 once it holds a box) by `b`. True when
 * `b` is the first box of the union. */
bool orvex_widen_source_union(OrvexSource &src, const OrvexSegmentBox &b);

/* Appends a segment with these values to the tile. Returns 0, or -1 with a
 * registered message; the tile then keeps its earlier array and count. */
int orvex_append_vector_segment(OrvexVectorTile &tile, int level, int fill,
                                const OrvexSegmentBox &b, long npts, OrvexXY *pts);

#endif
