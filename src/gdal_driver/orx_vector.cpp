#include "orx_vector.h"

namespace orxdriver {

OrxLayer::OrxLayer(const MapHandle &map, long k, const std::string &name)
    : map_(map), k_(k), defn_(new OGRFeatureDefn(name.c_str())), srs_(new OGRSpatialReference()),
      features_(map->frame.resolutions[k])
{
    SetDescription(defn_->GetName());
    defn_->Reference();
    defn_->SetGeomType(wkbUnknown);
    for (const char *field : orvexcli::kSegmentFieldNames) {
        OGRFieldDefn f(field, OFTInteger);
        defn_->AddFieldDefn(&f);
    }
    srs_->SetWellKnownGeogCS("WGS84");
    srs_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    defn_->GetGeomFieldDefn(0)->SetSpatialRef(srs_);
    const OrvexResolution &res = map->frame.resolutions[k];
    SetMetadataItem("NAME", field_text(res.name, sizeof res.name).c_str());
    SetMetadataItem("LABEL", field_text(res.resolution, sizeof res.resolution).c_str());
    SetMetadataItem("SOURCE", field_text(res.source.fname, sizeof res.source.fname).c_str());
    SetMetadataItem("RESOLUTION_INDEX", std::to_string(k).c_str());
}

OrxLayer::~OrxLayer()
{
    defn_->Release();
    srs_->Release();
}

void OrxLayer::ResetReading()
{
    tile_ = 0;
    segment_ = 0;
    next_fid_ = 0;
    features_.restart();
}

OGRFeature *OrxLayer::next_stored()
{
    const OrvexResolution &res = map_->frame.resolutions[k_];
    const OrvexVector *v = static_cast<const OrvexVector *>(res.data);
    for (; v && v->tiles && tile_ < res.ntiles; tile_++, segment_ = 0) {
        const OrvexVectorTile &tile = v->tiles[tile_];
        while (segment_ < tile.nsegments) {
            OGRFeatureH f = features_.make(OGRFeatureDefn::ToHandle(defn_), tile_, segment_++);
            if (!f) continue;
            OGRFeature *feature = OGRFeature::FromHandle(f);
            feature->SetFID(next_fid_++);
            return feature;
        }
    }
    return nullptr;
}

OGRFeature *OrxLayer::GetNextFeature()
{
    while (OGRFeature *f = next_stored()) {
        if ((m_poFilterGeom == nullptr || FilterGeometry(f->GetGeometryRef())) &&
            (m_poAttrQuery == nullptr || m_poAttrQuery->Evaluate(f)))
            return f;
        delete f;
    }
    return nullptr;
}

}  // namespace orxdriver
