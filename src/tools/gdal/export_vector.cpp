// A vector resolution leaves the map as one layer of features (made as
// segment_features.h says), those of the segments meeting the region.
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include "common.h"
#include "gdal_common.h"
#include "gdal_io.h"
#include "segment_features.h"

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
    if (define_segment_fields(layer) != 0) return -1;
    SegmentFeatures features(res);
    OGRFeatureDefnH defn = OGR_L_GetLayerDefn(layer);
    long written = 0;
    bool transaction = GDALDatasetStartTransaction(ds, FALSE) == OGRERR_NONE;
    for (long t = 0; v->tiles && t < res.ntiles; t++) {
        const OrvexVectorTile &tile = v->tiles[t];
        for (long s = 0; s < tile.nsegments; s++) {
            if (!meets(tile.segments[s], region)) continue;
            OGRFeatureH f = features.make(defn, t, s);
            if (!f) continue;
            OGRErr err = OGR_L_CreateFeature(layer, f);
            OGR_F_Destroy(f);
            if (err != OGRERR_NONE) return -1;
            written++;
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
