#include "export_formats.h"

#include <cpl_conv.h>
#include <cpl_string.h>
#include <ogr_srs_api.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "Orvex.h"
#include "export_layout.h"

namespace orvexcli {

namespace {

const char kWho[] = "orvex: export";
const char kElevationFormats[] = "GeoTIFF (.tif), netCDF (.nc) or ERDAS Imagine (.img)";
const char kColourFormats[] = "GeoTIFF (.tif), PNG (.png) or GeoPackage (.gpkg)";

int refuse(const std::string &driver, bool colour, const std::string &why)
{
    orvex_register_error(0, "%s: GDAL's %s driver %s; %s go exactly to %s.\n", kWho, driver.c_str(), why.c_str(),
                         colour ? "colours" : "16-bit elevations", colour ? kColourFormats : kElevationFormats);
    return -1;
}

/* True when the space-separated `list` holds `word`. */
bool lists(const char *list, const char *word)
{
    std::string padded = std::string(" ") + list + " ";
    return padded.find(std::string(" ") + word + " ") != std::string::npos;
}

bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

/* The steps and the centre of the first cell, as world files hold them,
 * to the last digit. */
int write_world_file(const std::string &path, const double t[6])
{
    FILE *f = fopen(path.c_str(), "w");
    if (!f) {
        orvex_register_error(1, "%s: cannot create the world file %s.\n", kWho, path.c_str());
        return -1;
    }
    fprintf(f, "%.17g\n%.17g\n%.17g\n%.17g\n%.17g\n%.17g\n", t[1], t[4], t[2], t[5], t[0] + 0.5 * t[1] + 0.5 * t[2],
            t[3] + 0.5 * t[4] + 0.5 * t[5]);
    if (ferror(f) | fclose(f)) {
        orvex_register_error(1, "%s: cannot write the world file %s.\n", kWho, path.c_str());
        return -1;
    }
    return 0;
}

/* GDAL writes the reference system and transform of a dataset that cannot
 * hold them into WRITTEN.aux.xml; that file is then moved to `to`. */
int write_aux_xml(const std::string &written, const double t[6], const std::string &to)
{
    CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "YES");
    Dataset ds(GDALOpen(written.c_str(), GA_ReadOnly));
    int rc = -1;
    if (ds.get()) {
        double copy[6];
        memcpy(copy, t, sizeof copy);
        set_wgs84(ds.get());
        GDALSetGeoTransform(ds.get(), copy);
        rc = ds.close();
    }
    CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr);
    std::string aux = written + ".aux.xml";
    if (rc != 0 || !exists(aux) || rename(aux.c_str(), to.c_str()) != 0) {
        unlink(aux.c_str());
        orvex_register_error(0, "%s: cannot write the georeferencing of %s beside it.\n", kWho, written.c_str());
        return -1;
    }
    return 0;
}

/* Refuses to put a side file where one exists, unless asked to. */
int side_file_free(const std::string &name, const std::string &final_path, bool overwrite)
{
    if (overwrite || !exists(name)) return 0;
    orvex_register_error(0, "%s: %s needs the side file %s, which exists (--overwrite replaces it).\n", kWho,
                         final_path.c_str(), name.c_str());
    return -1;
}

}  // namespace

/* A file of several rasters (netCDF keeps each colour band as a variable
 * of its own) is georeferenced when its first one is. */
bool georeferenced(const std::string &path)
{
    Dataset ds(GDALOpen(path.c_str(), GA_ReadOnly));
    const char *first = ds.get() ? CSLFetchNameValue(GDALGetMetadata(ds.get(), "SUBDATASETS"), "SUBDATASET_1_NAME")
                                 : nullptr;
    if (first && GDALGetRasterCount(ds.get()) == 0) ds.reset(GDALOpen(std::string(first).c_str(), GA_ReadOnly));
    double t[6];
    return ds.get() && GDALGetGeoTransform(ds.get(), t) == CE_None && GDALGetSpatialRef(ds.get()) != nullptr;
}

int adopt_driver_files(const std::vector<std::string> &files, OutputGroup &group, bool overwrite)
{
    const std::string &temp = group.main().temp_path(), &final_path = group.main().path();
    for (const std::string &file : files) {
        if (file == temp) continue;
        std::string name = orvextool::side_file_name(file, temp, final_path);
        if (name.empty()) {
            orvex_register_error(0, "%s: GDAL wrote %s beside %s, a file this export cannot name after %s.\n", kWho,
                                 file.c_str(), temp.c_str(), final_path.c_str());
            return -1;
        }
        if (side_file_free(name, final_path, overwrite) != 0) return -1;
        AtomicOutput *side = group.add_side(name);
        if (!side || rename(file.c_str(), side->temp_path().c_str()) != 0) {
            orvex_register_error(1, "%s: cannot keep %s, written beside %s.\n", kWho, file.c_str(), temp.c_str());
            return -1;
        }
    }
    return 0;
}

void set_wgs84(GDALDatasetH ds)
{
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRSetWellKnownGeogCS(srs, "WGS84");
    /* Raster columns run along longitude, rows along latitude. */
    OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
}

int exact_raster_options(const std::string &driver, bool colour, const std::string &table, OptionList *options)
{
    GDALDriverH d = GDALGetDriverByName(driver.c_str());
    if (!d || !GDALGetMetadataItem(d, GDAL_DCAP_RASTER, nullptr)) {
        orvex_register_error(0, "%s: GDAL has no raster driver '%s'.\n", kWho, driver.c_str());
        return -1;
    }
    const char *types = GDALGetMetadataItem(d, GDAL_DMD_CREATIONDATATYPES, nullptr);
    const char *type = colour ? "Byte" : "Int16";
    if (types && !lists(types, type))
        return refuse(driver, colour, std::string("writes ") + types + " samples, not " + type);
    if (driver == "JPEG") return refuse(driver, colour, "compresses with loss");
    /* Elevations become a gridded coverage of scaled tiles that GDAL reads
     * back as 32-bit floats with another no-data value. */
    if (driver == "GPKG" && !colour) return refuse(driver, colour, "stores elevations as scaled floating-point tiles");
    *options = OptionList{};
    if (driver == "COG") *options = {"COMPRESS=DEFLATE", "BIGTIFF=IF_SAFER"};
    if (driver == "GTiff") *options = {"COMPRESS=DEFLATE", "TILED=YES", "BIGTIFF=IF_SAFER"};
    if (driver == "GPKG")
        *options = {"TILE_FORMAT=PNG", "RASTER_TABLE=" + table, "RASTER_IDENTIFIER=" + table};
    if (driver == "WEBP") *options = {"LOSSLESS=YES"};
    if (driver == "JP2OpenJPEG") *options = {"REVERSIBLE=YES", "QUALITY=100"};
    /* netCDF-4 (which deflates) is not written under a temporary name
     * without the .nc suffix: classic netCDF it is. */
    return 0;
}

int georeference_beside(const std::string &written, const double transform[6], OutputGroup &group, bool overwrite)
{
    const std::string &final_path = group.main().path();
    std::string names[2] = {orvextool::world_file_name(final_path), final_path + ".aux.xml"};
    for (const std::string &name : names)
        if (side_file_free(name, final_path, overwrite) != 0) return -1;
    AtomicOutput *world = group.add_side(names[0]);
    AtomicOutput *aux = world ? group.add_side(names[1]) : nullptr;
    if (!aux) {
        orvex_register_error(0, "%s: no room to protect the side files of %s.\n", kWho, final_path.c_str());
        return -1;
    }
    if (write_world_file(world->temp_path(), transform) != 0) return -1;
    return write_aux_xml(written, transform, aux->temp_path());
}

}  // namespace orvexcli
