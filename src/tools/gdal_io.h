// The command's road to the rasters and vectors other programs make and
// read (GeoTIFF, netCDF, GeoPackage, GeoJSON...), through GDAL. The map
// library knows nothing of GDAL: a raster reaches it as a raw grid and its
// parameter file in a scratch folder, and maps leave it through GDAL's
// writers. Built without GDAL, every call fails with a message saying so.
#ifndef ORVEX_TOOL_GDAL_IO_H
#define ORVEX_TOOL_GDAL_IO_H

#include <memory>
#include <string>

#include "Orvex.h"
#include "atomic_output.h"
#include "export_layout.h"
#include "export_options.h"
#include "hostdb.h"
#include "region.h"

namespace orvexcli {

/* False when the command was built without GDAL. */
bool gdal_built_in();
/* What the commands say when asked for GDAL's formats without it. */
extern const char kNoGdal[];

/* True when GDAL recognises the file at `path` as a raster. */
bool gdal_is_raster(const std::string &path);

struct RasterOptions {
    double spacing = 0;   /* degrees between samples of a warped grid; 0: the warper's choice */
    bool samples = true;  /* false: the grid's geometry only (samples left unread, zero) */
    bool stream = false;  /* rows read as a build needs them, through row_feed() */
    long scratch_limit = 0; /* bytes of rows the scratch grid may hold at once; 0: no limit */
};

struct RasterSummary {
    std::string driver;
    bool colour = false, warped = false, read = false; /* read: the samples, not only the geometry */
    long cols = 0, rows = 0;
    long nodata = 0, clamped = 0; /* elevation samples without a value, and out of range */
};

/* A raster read through GDAL into a raw grid (elevations as 16-bit
 * integers, colours as RGB bytes) with its parameter file, in a scratch
 * folder removed with the object. The grid is read whole, or not at all
 * (its geometry only), or a band of rows at a time as a build asks for
 * them through row_feed(); rows not read are zero. */
class RasterGrid {
public:
    RasterGrid();
    ~RasterGrid();
    RasterGrid(const RasterGrid &) = delete;
    RasterGrid &operator=(const RasterGrid &) = delete;

    /* Reads `source` into a scratch folder made inside `parent`. Returns 0,
     * or -1 with the reasons registered (the folder is then gone). */
    int convert(const std::string &source, const std::string &parent, const RasterOptions &options);
    /* The raw grid and its type for Orvex::setInput ("dem" or "rgb"). */
    const std::string &path() const;
    const char *type() const { return summary_.colour ? "rgb" : "dem"; }
    const RasterSummary &summary() const { return summary_; }
    /* "'dem.tif' through GDAL (GTiff): 40 x 20 elevations, 3 without value, 1 clamped". */
    std::string describe(const std::string &source) const;
    /* "3 without value, 1 clamped to -32768..32767", of the rows read so far. */
    std::string counts() const;
    /* The feed that reads rows into the grid as a build asks for them, when
     * converted with `stream`; else null. */
    const OrvexRowFeed *row_feed() const;
    /* Reads the one sample at `row`, `col` into the grid (nothing outside
     * it). 0, or -1 with the reason registered. */
    int read_sample(long row, long col);
    /* The most bytes of rows the scratch grid held at once. */
    long scratch_peak() const;
    /* Rows read from the raster for the build: its height when each row
     * was read once, however many resolutions sample it. */
    long rows_read() const;

    struct Source; /* the open raster and its scratch grid */

private:
    int open_source(const std::string &source, const RasterOptions &options, double t[6]);
    int make_scratch(const std::string &parent, const RasterOptions &options, const double t[6]);

    std::unique_ptr<Source> source_; /* goes after the scratch folder it writes */
    std::unique_ptr<ScratchFolder> scratch_;
    RasterSummary summary_;
    OrvexRowFeed feed_ = {nullptr, nullptr, nullptr};
};

/* Where an export of grid `g` lands: its rows and columns, whole or within
 * `region` (null: whole), and the raster's transform (see export_layout.h). */
orvextool::ExportLayout grid_export_layout(const OrvexGrid &g, const orvextool::Region *region, bool keep_columns);
/* Writes grid resolution `resolution` of `map` (whole, or the samples
 * within the options' region) to the temporary file of `out` through
 * GDAL's driver `driver`; an elevation grid as 16-bit integers with no-data
 * -9999, a colour grid as three bytes. A format that would change the
 * samples is refused; one that cannot hold the georeferencing gets a world
 * file and an .aux.xml as side files of `out`. Returns 0, or -1 with the
 * reasons registered. */
int export_grid(Orvex &map, int resolution, const orvextool::ExportOptions &options, OutputGroup &out,
                const std::string &driver);
/* Writes vector resolution `resolution` (whole, or the segments whose box
 * meets `region`) as features of one layer: polygons where filled, lines
 * otherwise, each with its level. Returns the feature count, or -1. */
long export_vector(Orvex &map, int resolution, const orvextool::Region *region, const std::string &path,
                   const std::string &driver);

struct VectorCounts {
    long polygons = 0, lines = 0;            /* features stored */
    long points = 0, unsupported = 0, empty = 0; /* features left out */
};

/* Imports the polygons and lines of layer `layer` (the first when empty)
 * of the OGR dataset `source`, the features matching `where` (all when
 * empty), into the shapefile database `db`, reprojected to longitude and
 * latitude. Returns 0 with *counts filled, or -1 with the reasons
 * registered (nothing imported). */
int ogr_import(Dbptr db, const std::string &source, const std::string &layer, const std::string &where,
               VectorCounts *counts);

}  // namespace orvexcli

#endif
