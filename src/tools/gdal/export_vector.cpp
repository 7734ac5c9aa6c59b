// A vector resolution leaves the map as one layer of features: each
// segment a multi-polygon where it outlines a filled area, a multi-line
// otherwise, with its level, all within -180..180 degrees (a ring across
// the 180 degree meridian is cut there, one round a pole closed along it).
// A segment that the map keeps in several tiles is written once.
#include <ogr_api.h>
#include <ogr_srs_api.h>
#include <dirent.h>
#include <stdio.h>
#include <unistd.h>
#include <sys/stat.h>

#include "atomic_output.h"
#include "common.h"
#include "gdal_common.h"
#include "gdal_io.h"
#include "layer_name.h"
#include "segment_features.h"
#include "vector_features.h"

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

/* Writes one feature; 1 when written, 0 when it has no parts, -1. */
int write_feature(OGRLayerH layer, const VectorFeature &vf)
{
    if (vf.parts.empty()) return 0;
    OGRFeatureH f = OGR_F_Create(OGR_L_GetLayerDefn(layer));
    OGR_F_SetFieldInteger(f, 0, vf.level);
    OGR_F_SetFieldInteger(f, 1, vf.filled ? 1 : 0);
    OGR_F_SetFieldInteger(f, 2, static_cast<int>(vf.tile));
    OGR_F_SetGeometryDirectly(f, multi_geometry(vf.parts, vf.filled));
    OGRErr err = OGR_L_CreateFeature(layer, f);
    OGR_F_Destroy(f);
    return err == OGRERR_NONE ? 1 : -1;
}

/* Multi-polygons when every segment outlines an area, multi-lines when
 * none does, either otherwise. */
OGRwkbGeometryType geometry_type_of(const OrvexResolution &res)
{
    const OrvexVector *v = vector_of(res);
    bool any_filled = false, any_line = false;
    for (long t = 0; v && v->tiles && t < res.ntiles; t++) {
        const OrvexVectorTile &tile = v->tiles[t];
        for (long s = 0; s < tile.nsegments; s++) {
            bool filled = (tile.fill != 0 || tile.segments[s].fill != 0) && tile.segments[s].npts >= 3;
            (filled ? any_filled : any_line) = true;
        }
    }
    if (any_filled && !any_line) return wkbMultiPolygon;
    if (any_line && !any_filled) return wkbMultiLineString;
    return wkbUnknown;
}

OGRLayerH create_layer(GDALDatasetH ds, const OrvexResolution &res, const std::string &driver)
{
    std::string name = orvextool::layer_name_for(driver, field_text(res.name, sizeof res.name));
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRSetWellKnownGeogCS(srs, "WGS84");
    OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
    OGRLayerH layer = GDALDatasetCreateLayer(ds, name.c_str(), srs, geometry_type_of(res), nullptr);
    OSRDestroySpatialReference(srs);
    return layer;
}

long write_features(GDALDatasetH ds, OGRLayerH layer, const OrvexResolution &res, const orvextool::Region *region)
{
    if (define_segment_fields(layer) != 0) return -1;
    long written = 0;
    bool transaction = GDALDatasetStartTransaction(ds, FALSE) == OGRERR_NONE;
    int rc = for_each_feature(
        res, [region](const OrvexVectorSegment &seg) { return meets(seg, region); },
        [&](const VectorFeature &f) {
            int n = write_feature(layer, f);
            written += n > 0 ? n : 0;
            return n < 0 ? -1 : 0;
        });
    if (rc != 0) return -1;
    if (transaction && GDALDatasetCommitTransaction(ds) != OGRERR_NONE) return -1;
    return written;
}

/* True when `file` is a regular file with nothing beside it in its folder;
 * whatever else a driver left there (the other files of a format of
 * several) is removed, so that the scratch folder goes with it. */
bool alone_in_folder(const std::string &file)
{
    std::string folder = folder_of(file), name = file.substr(folder.size() + 1);
    DIR *dir = opendir(folder.c_str());
    if (!dir) return false;
    bool alone = true;
    while (struct dirent *e = readdir(dir)) {
        std::string entry = e->d_name;
        if (entry == "." || entry == ".." || entry == name) continue;
        alone = false;
        unlink((folder + "/" + entry).c_str());
    }
    closedir(dir);
    struct stat st;
    return alone && lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

/* Writes the layer into `path` (the command's temporary name). Drivers
 * choose between one file and a folder of files by the name's suffix
 * (FlatGeobuf makes a folder of a name without ".fgb"), so the file is
 * written under the driver's own suffix in a scratch folder beside it and
 * renamed into place: one file, or a failure. */
long export_vector(Orvex &map, int index, const orvextool::Region *region, const std::string &path,
                   const std::string &driver)
{
    GdalErrors errors;
    GDALDriverH d = GDALGetDriverByName(driver.c_str());
    if (!d || !GDALGetMetadataItem(d, GDAL_DCAP_VECTOR, nullptr)) {
        orvex_register_error(0, "%s: GDAL has no vector driver '%s'.\n", kWho, driver.c_str());
        return -1;
    }
    const char *ext = GDALGetMetadataItem(d, GDAL_DMD_EXTENSION, nullptr);
    ScratchFolder scratch(folder_of(path), std::string("layer.") + (ext && *ext ? ext : "out"), "-journal");
    if (!scratch.ready()) return -1;
    const std::string &file = scratch.file_path();
    Dataset ds(GDALCreate(d, file.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    OGRLayerH layer = ds.get() ? create_layer(ds.get(), map.frame.resolutions[index], driver) : nullptr;
    long n = layer ? write_features(ds.get(), layer, map.frame.resolutions[index], region) : -1;
    if (n < 0 || ds.close() != 0) {
        orvex_register_error(0, "%s: GDAL's %s driver cannot write %s.\n", kWho, driver.c_str(), path.c_str());
        return -1;
    }
    if (!alone_in_folder(file)) {
        orvex_register_error(0, "%s: GDAL's %s driver writes several files, not one.\n", kWho, driver.c_str());
        return -1;
    }
    if (rename(file.c_str(), path.c_str()) != 0) {
        orvex_register_error(1, "%s: cannot move the layer written to %s.\n", kWho, path.c_str());
        return -1;
    }
    return n;
}

}  // namespace orvexcli
