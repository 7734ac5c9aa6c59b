// A vector resolution as an OGR layer: the features `orvex export` writes
// for it (segment_features.h), read in place.
#ifndef ORVEX_GDAL_DRIVER_ORX_VECTOR_H
#define ORVEX_GDAL_DRIVER_ORX_VECTOR_H

#include <ogrsf_frmts.h>

#include "orx_map.h"
#include "segment_features.h"

namespace orxdriver {

class OrxLayer final : public OGRLayer {
public:
    OrxLayer(const MapHandle &map, long k, const std::string &name);
    ~OrxLayer() override;

    void ResetReading() override;
    OGRFeature *GetNextFeature() override;
    OGRFeatureDefn *GetLayerDefn() override { return defn_; }
    int TestCapability(const char *) override { return FALSE; }

private:
    /* The next feature of the resolution, filters aside; null at the end. */
    OGRFeature *next_stored();

    MapHandle map_;
    long k_;
    OGRFeatureDefn *defn_;
    OGRSpatialReference *srs_;
    orvexcli::SegmentFeatures features_;
    long tile_ = 0, segment_ = 0;
    GIntBig next_fid_ = 0;
};

}  // namespace orxdriver

#endif
