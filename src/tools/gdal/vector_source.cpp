// Features of any dataset OGR reads (GeoPackage, GeoJSON, FlatGeobuf,
// shapefiles...) become rows of the shapefile database: each polygon or
// line feature one shape record, reprojected to longitude and latitude,
// with its attributes as JSON; points, other geometries and empty ones are
// counted and left out.
#include <cpl_error.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <vector>

#include "gdal_common.h"
#include "gdal_io.h"
#include "json_text.h"

namespace orvexcli {

namespace {

const char kWho[] = "orvex: vector";

enum class Kind { polygon, line, point, unsupported, empty };

Kind kind_of(OGRGeometryH g)
{
    if (!g || OGR_G_IsEmpty(g)) return Kind::empty;
    switch (wkbFlatten(OGR_G_GetGeometryType(g))) {
    case wkbPolygon: case wkbMultiPolygon: case wkbCurvePolygon: case wkbMultiSurface:
        return Kind::polygon;
    case wkbLineString: case wkbMultiLineString: case wkbCircularString: case wkbCompoundCurve:
    case wkbMultiCurve:
        return Kind::line;
    case wkbPoint: case wkbMultiPoint:
        return Kind::point;
    default:
        return Kind::unsupported;
    }
}

/* Reads the layer feature by feature for shpdb_import_shapes. */
class FeatureReader {
public:
    FeatureReader(OGRLayerH layer, OGRCoordinateTransformationH to_degrees, VectorCounts *counts)
        : layer_(layer), to_degrees_(to_degrees), counts_(counts)
    {
    }
    ~FeatureReader() { release(); }

    static int next(void *arg, ShpdbShape *shape) { return static_cast<FeatureReader *>(arg)->read(shape); }

private:
    int read(ShpdbShape *shape)
    {
        for (;;) {
            release();
            CPLErrorReset();
            feature_ = OGR_L_GetNextFeature(layer_);
            if (!feature_) return CPLGetLastErrorType() >= CE_Failure ? -1 : 0;
            OGRGeometryH g = OGR_F_GetGeometryRef(feature_);
            Kind kind = kind_of(g);
            if (kind == Kind::point) counts_->points++;
            if (kind == Kind::unsupported) counts_->unsupported++;
            if (kind == Kind::empty) counts_->empty++;
            if (kind != Kind::polygon && kind != Kind::line) continue;
            if (prepare(g) != 0) return -1;
            (kind == Kind::polygon ? counts_->polygons : counts_->lines)++;
            fill(shape, kind == Kind::polygon);
            return 1;
        }
    }

    int prepare(OGRGeometryH g)
    {
        geometry_ = OGR_G_GetLinearGeometry(g, 0, nullptr);
        if (!geometry_ || (to_degrees_ && OGR_G_Transform(geometry_, to_degrees_) != OGRERR_NONE)) {
            orvex_register_error(0, "%s: feature %lld cannot be taken to longitude and latitude.\n", kWho,
                                 static_cast<long long>(OGR_F_GetFID(feature_)));
            return -1;
        }
        parts_.clear();
        x_.clear();
        y_.clear();
        add_parts(geometry_);
        attributes();
        return 0;
    }

    /* Every ring of every polygon, or every line, one part each. */
    void add_parts(OGRGeometryH g)
    {
        OGRwkbGeometryType t = wkbFlatten(OGR_G_GetGeometryType(g));
        if (t == wkbLineString || t == wkbLinearRing) {
            if (OGR_G_GetPointCount(g) < 1) return;
            parts_.push_back(static_cast<int>(x_.size()));
            for (int i = 0; i < OGR_G_GetPointCount(g); i++) {
                x_.push_back(OGR_G_GetX(g, i));
                y_.push_back(OGR_G_GetY(g, i));
            }
            return;
        }
        for (int i = 0; i < OGR_G_GetGeometryCount(g); i++) add_parts(OGR_G_GetGeometryRef(g, i));
    }

    void attributes()
    {
        json_ = "{";
        OGRFeatureDefnH defn = OGR_F_GetDefnRef(feature_);
        for (int i = 0; i < OGR_FD_GetFieldCount(defn); i++) {
            OGRFieldDefnH f = OGR_FD_GetFieldDefn(defn, i);
            if (i > 0) json_ += ",";
            orvextool::append_json_string(&json_, OGR_Fld_GetNameRef(f));
            json_ += ":";
            OGRFieldType type = OGR_Fld_GetType(f);
            if (!OGR_F_IsFieldSetAndNotNull(feature_, i)) json_ += "null";
            else if (type == OFTInteger || type == OFTInteger64) json_ += std::to_string(OGR_F_GetFieldAsInteger64(feature_, i));
            else if (type == OFTReal) orvextool::append_json_number(&json_, OGR_F_GetFieldAsDouble(feature_, i));
            else orvextool::append_json_string(&json_, OGR_F_GetFieldAsString(feature_, i));
        }
        json_ += "}";
    }

    void fill(ShpdbShape *shape, bool polygon)
    {
        shape->shape_type = polygon ? 5 : 3;
        shape->nparts = static_cast<int>(parts_.size());
        shape->parts = parts_.data();
        shape->npoints = static_cast<int>(x_.size());
        shape->x = x_.data();
        shape->y = y_.data();
        shape->attributes = json_.c_str();
    }

    void release()
    {
        if (geometry_) OGR_G_DestroyGeometry(geometry_);
        if (feature_) OGR_F_Destroy(feature_);
        geometry_ = nullptr;
        feature_ = nullptr;
    }

    OGRLayerH layer_;
    OGRCoordinateTransformationH to_degrees_;
    VectorCounts *counts_;
    OGRFeatureH feature_ = nullptr;
    OGRGeometryH geometry_ = nullptr;
    std::vector<int> parts_;
    std::vector<double> x_, y_;
    std::string json_;
};

/* Longitude/latitude on WGS 84, longitude first whatever the authority's
 * axis order. */
OGRSpatialReferenceH wgs84()
{
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRSetWellKnownGeogCS(srs, "WGS84");
    OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

/* The transformation of the layer's coordinates to degrees; null when the
 * layer names no coordinate system (taken for degrees) or on failure
 * (*failed). */
OGRCoordinateTransformationH transform_of(OGRLayerH layer, bool *failed)
{
    *failed = false;
    OGRSpatialReferenceH from = OGR_L_GetSpatialRef(layer);
    if (!from) return nullptr;
    OGRSpatialReferenceH source = OSRClone(from), target = wgs84();
    OSRSetAxisMappingStrategy(source, OAMS_TRADITIONAL_GIS_ORDER);
    OGRCoordinateTransformationH t = OCTNewCoordinateTransformation(source, target);
    OSRDestroySpatialReference(source);
    OSRDestroySpatialReference(target);
    *failed = t == nullptr;
    return t;
}

OGRLayerH layer_of(GDALDatasetH ds, const std::string &source, const std::string &name)
{
    OGRLayerH layer = name.empty() ? GDALDatasetGetLayer(ds, 0) : GDALDatasetGetLayerByName(ds, name.c_str());
    if (!layer)
        orvex_register_error(0, "%s: %s has no layer%s%s.\n", kWho, source.c_str(), name.empty() ? "" : " named ",
                             name.c_str());
    return layer;
}

}  // namespace

int ogr_import(Dbptr db, const std::string &source, const std::string &layer_name, const std::string &where,
               VectorCounts *counts)
{
    GdalErrors errors;
    Dataset ds(GDALOpenEx(source.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!ds.get()) {
        orvex_register_error(0, "%s: GDAL cannot open %s as vector data.\n", kWho, source.c_str());
        return -1;
    }
    OGRLayerH layer = layer_of(ds.get(), source, layer_name);
    if (!layer) return -1;
    if (!where.empty() && OGR_L_SetAttributeFilter(layer, where.c_str()) != OGRERR_NONE) {
        orvex_register_error(0, "%s: the filter '%s' does not apply to %s.\n", kWho, where.c_str(), source.c_str());
        return -1;
    }
    bool failed = false;
    OGRCoordinateTransformationH to_degrees = transform_of(layer, &failed);
    if (failed) {
        orvex_register_error(0, "%s: the coordinates of %s cannot be taken to longitude and latitude.\n", kWho,
                             source.c_str());
        return -1;
    }
    *counts = VectorCounts();
    FeatureReader reader(layer, to_degrees, counts);
    long n = shpdb_import_shapes(db, source.c_str(), FeatureReader::next, &reader);
    if (to_degrees) OCTDestroyCoordinateTransformation(to_degrees);
    return n < 0 ? -1 : 0;
}

}  // namespace orvexcli
