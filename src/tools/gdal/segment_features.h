// A vector resolution's segments as OGR features: a multi-polygon where a
// segment outlines a filled area, a multi-line otherwise (cut at 180
// degrees, a ring round a pole closed along it: vector_features.h), with
// its level, whether it is filled and its tile. `orvex export` and the GDAL driver both make their
// features here, so that a layer read in place and an exported one agree.
#ifndef ORVEX_TOOL_SEGMENT_FEATURES_H
#define ORVEX_TOOL_SEGMENT_FEATURES_H

#include <ogr_api.h>

#include <set>
#include <tuple>

#include "Orvex.h"
#include "lonlat_pieces.h"

namespace orvexcli {

/* The fields every feature carries, in this order. */
extern const char *const kSegmentFieldNames[3];

/* The pieces of one segment as one multi-geometry; the caller owns it. */
OGRGeometryH multi_geometry(const std::vector<orvextool::LonLatLine> &parts, bool filled);

/* Adds the fields to a layer being written; 0 or -1. */
int define_segment_fields(OGRLayerH layer);

/* Makes each stored segment a feature once: a segment that the map keeps
 * in several tiles gives a feature only the first time it is met. */
class SegmentFeatures {
public:
    explicit SegmentFeatures(const OrvexResolution &res);
    /* The feature of segment s of tile t for a layer of definition `defn`
     * (fields as above), or null when the segment is left out (fewer than
     * two points or no piece, or a copy already made). The caller owns it. */
    OGRFeatureH make(OGRFeatureDefnH defn, long t, long s);
    /* Forgets the segments already made: the next pass starts afresh. */
    void restart() { seen_.clear(); }

private:
    using Key = std::tuple<int, int, int, int, int, long, bool, int, int>;
    static Key key_of(const OrvexVectorSegment &seg, bool filled);

    const OrvexResolution &res_;
    bool big_endian_;
    std::set<Key> seen_;
};

}  // namespace orvexcli

#endif
