// A vector resolution leaves the map as one layer of features: each
// segment a polygon where it outlines a filled area, a line otherwise,
// with its level. A segment that the map keeps in several tiles is written
// once.
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <set>
#include <tuple>

#include "common.h"
#include "gdal_common.h"
#include "gdal_io.h"

namespace orvexcli {

namespace {

const char kWho[] = "orvex: export";

bool meets(const OrvexVectorSegment &seg, const orvextool::Region *region)
{
    if (!region) return true;
    double w = seg.lonmin * 1e-6, e = seg.lonmax * 1e-6, s = seg.latmin * 1e-6, n = seg.latmax * 1e-6;
    if (s > region->north || n < region->south) return false;
    for (double shift : {0.0, 360.0, -360.0})
        if (w + shift <= region->east && e + shift >= region->west) return true;
    return false;
}

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

class LayerWriter {
public:
    explicit LayerWriter(OGRLayerH layer) : layer_(layer) {}

    int define()
    {
        for (const char *name : {"level", "filled", "tile"}) {
            OGRFieldDefnH f = OGR_Fld_Create(name, OFTInteger);
            OGRErr err = OGR_L_CreateField(layer_, f, TRUE);
            OGR_Fld_Destroy(f);
            if (err != OGRERR_NONE) return -1;
        }
        return 0;
    }

    /* Writes the segment once; 1 when written, 0 when left out, -1. */
    int write(const OrvexVectorTile &tile, const OrvexVectorSegment &seg, long t, bool big_endian)
    {
        /* Fewer than three points outline no area: a line, then. */
        bool filled = (tile.fill != 0 || seg.fill != 0) && seg.npts >= 3;
        if (seg.npts < 2 || !seg.pts) return 0;
        if (!seen_.insert(key_of(seg, filled)).second) return 0;
        OGRFeatureH f = OGR_F_Create(OGR_L_GetLayerDefn(layer_));
        OGR_F_SetFieldInteger(f, 0, seg.level);
        OGR_F_SetFieldInteger(f, 1, filled ? 1 : 0);
        OGR_F_SetFieldInteger(f, 2, static_cast<int>(t));
        OGR_F_SetGeometryDirectly(f, geometry_of(seg, big_endian, filled));
        OGRErr err = OGR_L_CreateFeature(layer_, f);
        OGR_F_Destroy(f);
        return err == OGRERR_NONE ? 1 : -1;
    }

private:
    using Key = std::tuple<int, int, int, int, int, long, bool, int, int>;
    /* Copies of a segment in several tiles agree in box, count, level and
     * their first point. */
    static Key key_of(const OrvexVectorSegment &seg, bool filled)
    {
        OrvexXY first;
        orvex_get_point(&seg, 0, &first);
        return Key{seg.level, seg.lonmin, seg.lonmax, seg.latmin, seg.latmax, seg.npts, filled, first.lon_microdegrees,
                   first.lat_microdegrees};
    }

    OGRLayerH layer_;
    std::set<Key> seen_;
};

OGRLayerH create_layer(GDALDatasetH ds, const OrvexResolution &res)
{
    std::string name = field_text(res.name, sizeof res.name);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRSetWellKnownGeogCS(srs, "WGS84");
    OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
    OGRLayerH layer = GDALDatasetCreateLayer(ds, name.empty() ? "segments" : name.c_str(), srs, wkbUnknown, nullptr);
    OSRDestroySpatialReference(srs);
    return layer;
}

long write_features(GDALDatasetH ds, OGRLayerH layer, const OrvexResolution &res, const orvextool::Region *region)
{
    const OrvexVector *v = vector_of(res);
    LayerWriter writer(layer);
    if (writer.define() != 0) return -1;
    bool big = res.data_type == ORVEX_DATA_GSHHS;
    long written = 0;
    bool transaction = GDALDatasetStartTransaction(ds, FALSE) == OGRERR_NONE;
    for (long t = 0; v->tiles && t < res.ntiles; t++) {
        const OrvexVectorTile &tile = v->tiles[t];
        for (long s = 0; s < tile.nsegments; s++) {
            if (!meets(tile.segments[s], region)) continue;
            int rc = writer.write(tile, tile.segments[s], t, big);
            if (rc < 0) return -1;
            written += rc;
        }
    }
    if (transaction && GDALDatasetCommitTransaction(ds) != OGRERR_NONE) return -1;
    return written;
}

}  // namespace

long export_vector(Orvex &map, int index, const orvextool::Region *region, const std::string &path,
                   const std::string &driver)
{
    GdalErrors errors;
    GDALDriverH d = GDALGetDriverByName(driver.c_str());
    if (!d || !GDALGetMetadataItem(d, GDAL_DCAP_VECTOR, nullptr)) {
        orvex_register_error(0, "%s: GDAL has no vector driver '%s'.\n", kWho, driver.c_str());
        return -1;
    }
    Dataset ds(GDALCreate(d, path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    OGRLayerH layer = ds.get() ? create_layer(ds.get(), map.frame.resolutions[index]) : nullptr;
    long n = layer ? write_features(ds.get(), layer, map.frame.resolutions[index], region) : -1;
    if (n < 0 || ds.close() != 0) {
        orvex_register_error(0, "%s: GDAL's %s driver cannot write %s.\n", kWho, driver.c_str(), path.c_str());
        return -1;
    }
    return n;
}

}  // namespace orvexcli
