// orvex export MAP --res K OUT: one resolution of a map back to the
// formats of GIS programs, through GDAL: a grid as a georeferenced raster,
// a vector layer as features.
#include <stdio.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "atomic_output.h"
#include "commands.h"
#include "common.h"
#include "export_options.h"
#include "gdal_io.h"
#include "raster_input.h"
#include "raster_values.h"

namespace orvexcli {

namespace {

const char kHelp[] =
    "Usage: orvex export MAP --res K [OPTIONS] OUT\n"
    "\n"
    "Writes resolution K of MAP to OUT through GDAL. A grid becomes a raster in\n"
    "longitude/latitude (WGS 84) whose cells are centred on the map's samples:\n"
    "elevations as 16-bit integers with no-data -9999, colours as three bytes;\n"
    "OUT.tif is a Cloud-Optimized GeoTIFF, deflated. A grid that goes once round\n"
    "the Earth is written from -180 to 180 degrees whatever its stored order.\n"
    "A format that would change the samples is refused (elevations: not .png,\n"
    "not .gpkg); one that cannot hold the georeferencing (.png) gets a world\n"
    "file and an .aux.xml beside it. A vector resolution becomes one layer of\n"
    "features, polygons where filled and lines otherwise, with the attributes\n"
    "level, filled and tile.\n"
    "\n"
    "Formats by suffix: grids .tif .tiff (COG), .nc (netCDF), .img (HFA), .png,\n"
    ".gpkg; vectors .gpkg (GeoPackage), .geojson .json (GeoJSON), .fgb\n"
    "(FlatGeobuf). The files a driver keeps beside its raster (.hdr, .prj) are\n"
    "named after OUT.\n"
    "\n"
    "Options:\n"
    "  --res K             the resolution to export (see 'orvex info')\n"
    "  --region W/E/S/N    only the samples (or the segments meeting the region)\n"
    "                      within it, degrees\n"
    "  --format DRIVER     any GDAL driver that writes files, e.g. GTiff, netCDF\n"
    "  --keep-columns      a grid that goes round the Earth keeps its stored\n"
    "                      column order and longitudes (0 to 360, say)\n"
    "  --overwrite         replace OUT (and its side files) if they exist\n"
    "\n"
    "OUT and its side files are written under temporary names and appear only\n"
    "complete, together.\n";

int check_output(const orvextool::ExportOptions &o)
{
    struct stat st;
    if (stat(o.output.c_str(), &st) != 0) return 0;
    if (!o.overwrite)
        return fail("export", "cannot create '" + o.output + "': it exists (--overwrite replaces it)");
    if (!S_ISREG(st.st_mode)) return usage_error("export", "'" + o.output + "' is not a regular file");
    return 0;
}

/* Writes the resolution into `path`; the feature or sample count goes to
 * *what. */
int write_resolution(Orvex &map, const orvextool::ExportOptions &o, const std::string &driver, OutputGroup &out,
                     std::string *what)
{
    const orvextool::Region *region = o.has_region ? &o.region : nullptr;
    if (vector_of(map.frame.resolutions[o.resolution])) {
        long n = export_vector(map, o.resolution, region, out.main().temp_path(), driver);
        *what = count_of(n, "feature");
        return n < 0 ? -1 : 0;
    }
    *what = "grid";
    return export_grid(map, o.resolution, o, out, driver);
}

int run_export(const orvextool::ExportOptions &o)
{
    if (!gdal_built_in()) return fail("export", kNoGdal);
    std::unique_ptr<RasterGrid> raster;
    Orvex map;
    if (open_map_or_raster("export", o.map.c_str(), &map, &raster, true) != 0) return 1;
    if (o.resolution >= map.frame.nresolutions)
        return fail("export", "'" + o.map + "' has " + count_of(map.frame.nresolutions, "resolution") +
                                  ", no resolution " + std::to_string(o.resolution));
    const OrvexResolution &res = map.frame.resolutions[o.resolution];
    if (!grid_of(res) && !vector_of(res)) return fail("export", "resolution " + std::to_string(o.resolution) + " is neither a grid nor a vector");
    std::string driver = o.format.empty() ? orvextool::driver_for_suffix(o.output, vector_of(res) != nullptr) : o.format;
    if (driver.empty())
        return usage_error("export", "the suffix of '" + o.output + "' names no " +
                                         (vector_of(res) ? "vector" : "raster") + " format; give --format DRIVER");
    if (int rc = check_output(o)) return rc;
    /* GDAL's own side files of the temporary name go with it on a signal. */
    OutputGroup file(o.output, driver == "GPKG" ? "-journal" : ".aux.xml");
    if (!file.main().ready()) return fail("export", "cannot protect '" + o.output + "' (name too long)");
    std::string what, why;
    if (write_resolution(map, o, driver, file, &what) != 0)
        return fail("export", "cannot export resolution " + std::to_string(o.resolution) + " of '" + o.map + "' to '" + o.output + "'");
    test_checkpoint("exported");
    if (file.commit(o.overwrite, &why) != 0) return fail("export", why);
    fprintf(stderr, "orvex export: wrote %s (%s): resolution %d, %s\n", o.output.c_str(), driver.c_str(), o.resolution,
            what.c_str());
    return 0;
}

}  // namespace

int export_command(int argc, char **argv)
{
    if (wants_help(argc, argv)) {
        fputs(kHelp, stdout);
        return 0;
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    orvextool::ExportOptions options;
    std::string why;
    if (!orvextool::parse_export_options(args, &options, &why)) return usage_error("export", why);
    return run_export(options);
}

}  // namespace orvexcli
