#include "segment_features.h"

#include "vector_features.h"

namespace orvexcli {

const char *const kSegmentFieldNames[3] = {"level", "filled", "tile"};

OGRGeometryH multi_geometry(const std::vector<orvextool::LonLatLine> &parts, bool filled)
{
    OGRGeometryH g = OGR_G_CreateGeometry(filled ? wkbMultiPolygon : wkbMultiLineString);
    for (const orvextool::LonLatLine &part : parts) {
        OGRGeometryH line = OGR_G_CreateGeometry(filled ? wkbLinearRing : wkbLineString);
        for (const orvextool::PixelPoint &p : part) OGR_G_AddPoint_2D(line, p.x, p.y);
        if (!filled) {
            OGR_G_AddGeometryDirectly(g, line);
            continue;
        }
        OGRGeometryH polygon = OGR_G_CreateGeometry(wkbPolygon);
        OGR_G_AddGeometryDirectly(polygon, line);
        OGR_G_AddGeometryDirectly(g, polygon);
    }
    return g;
}

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
    std::vector<orvextool::LonLatLine> parts = segment_parts(seg, big_endian_, filled);
    if (parts.empty()) return nullptr;
    OGRFeatureH f = OGR_F_Create(defn);
    OGR_F_SetFieldInteger(f, 0, seg.level);
    OGR_F_SetFieldInteger(f, 1, filled ? 1 : 0);
    OGR_F_SetFieldInteger(f, 2, static_cast<int>(t));
    OGR_F_SetGeometryDirectly(f, multi_geometry(parts, filled));
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
