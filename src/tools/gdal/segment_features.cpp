#include "segment_features.h"

namespace orvexcli {

const char *const kSegmentFieldNames[3] = {"level", "filled", "tile"};

namespace {

/* The segment's points as stored (GSHHS files hold them big-endian). */
OGRGeometryH points_of(const OrvexVectorSegment &seg, bool big_endian, bool ring)
{
    OGRGeometryH g = OGR_G_CreateGeometry(ring ? wkbLinearRing : wkbLineString);
    OrvexXY xy;
    for (long k = 0; k < seg.npts; k++) {
        orvex_get_point(&seg, k, &xy);
        if (big_endian) N2H4(reinterpret_cast<unsigned char *>(&xy), reinterpret_cast<unsigned char *>(&xy), 2);
        OGR_G_AddPoint_2D(g, xy.lon_microdegrees * 1e-6, xy.lat_microdegrees * 1e-6);
    }
    if (ring) OGR_G_CloseRings(g);
    return g;
}

OGRGeometryH geometry_of(const OrvexVectorSegment &seg, bool big_endian, bool filled)
{
    if (!filled) return points_of(seg, big_endian, false);
    OGRGeometryH polygon = OGR_G_CreateGeometry(wkbPolygon);
    OGR_G_AddGeometryDirectly(polygon, points_of(seg, big_endian, true));
    return polygon;
}

}  // namespace

int define_segment_fields(OGRLayerH layer)
{
    for (const char *name : kSegmentFieldNames) {
        OGRFieldDefnH f = OGR_Fld_Create(name, OFTInteger);
        OGRErr err = OGR_L_CreateField(layer, f, TRUE);
        OGR_Fld_Destroy(f);
        if (err != OGRERR_NONE) return -1;
    }
    return 0;
}

SegmentFeatures::SegmentFeatures(const OrvexResolution &res)
    : res_(res), big_endian_(res.data_type == ORVEX_DATA_GSHHS)
{
}

OGRFeatureH SegmentFeatures::make(OGRFeatureDefnH defn, long t, long s)
{
    const OrvexVectorTile &tile = static_cast<const OrvexVector *>(res_.data)->tiles[t];
    const OrvexVectorSegment &seg = tile.segments[s];
    /* Fewer than three points outline no area: a line, then. */
    bool filled = (tile.fill != 0 || seg.fill != 0) && seg.npts >= 3;
    if (seg.npts < 2 || !seg.pts) return nullptr;
    if (!seen_.insert(key_of(seg, filled)).second) return nullptr;
    OGRFeatureH f = OGR_F_Create(defn);
    OGR_F_SetFieldInteger(f, 0, seg.level);
    OGR_F_SetFieldInteger(f, 1, filled ? 1 : 0);
    OGR_F_SetFieldInteger(f, 2, static_cast<int>(t));
    OGR_F_SetGeometryDirectly(f, geometry_of(seg, big_endian_, filled));
    return f;
}

/* Copies of a segment in several tiles agree in box, count, level and
 * their first point. */
SegmentFeatures::Key SegmentFeatures::key_of(const OrvexVectorSegment &seg, bool filled)
{
    OrvexXY first;
    orvex_get_point(&seg, 0, &first);
    return Key{seg.level, seg.lonmin, seg.lonmax, seg.latmin, seg.latmax, seg.npts, filled, first.lon_microdegrees,
               first.lat_microdegrees};
}

}  // namespace orvexcli
