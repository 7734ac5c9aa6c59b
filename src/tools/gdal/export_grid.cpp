// A grid resolution leaves the map as a georeferenced raster: the samples
// are copied a tile at a time into a scratch GeoTIFF, which GDAL's
// driver of the chosen format then copies (a Cloud-Optimized GeoTIFF needs
// the whole raster at hand to lay out its overviews). Formats that would
// change the samples are refused before anything is written.
#include <cpl_conv.h>
#include <cpl_string.h>
#include <ctype.h>
#include <string.h>

#include <vector>

#include "common.h"
#include "gdal_common.h"
#include "gdal_io.h"
#include "export_formats.h"
#include "export_layout.h"

namespace orvexcli {

namespace {

const char kWho[] = "orvex: export";

/* A run of stored rows and columns, written from column `out_col` of the
 * raster on. */
struct Window {
    long row0 = 0, rows = 0, col0 = 0, cols = 0, out_col = 0;
};

GDALDatasetH create_scratch(const std::string &path, const OrvexGrid &g, const orvextool::ExportLayout &l)
{
    bool colour = g.content != 1;
    OptionList options{"TILED=YES", "COMPRESS=DEFLATE", "ZLEVEL=1", "BIGTIFF=IF_SAFER"};
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), static_cast<int>(l.cols),
                                 static_cast<int>(l.rows), colour ? 3 : 1, colour ? GDT_Byte : GDT_Int16,
                                 options.get());
    if (!ds) return nullptr;
    double t[6];
    memcpy(t, l.transform, sizeof t);
    GDALSetGeoTransform(ds, t);
    set_wgs84(ds);
    if (!colour) GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), ORVEX_NODATA);
    return ds;
}

/* Copies the samples of the window tile by tile: each tile is held while
 * its part of the window goes to the raster in pieces of at most kPiece
 * bytes, and released, so memory stays within the cache's budget (one tile
 * more when a tile is larger) plus one piece, whatever the region, and
 * every tile is inflated once. */
class TileCopier {
public:
    TileCopier(Orvex &map, int index, const Window &w)
        : map_(map), index_(index), res_(map.frame.resolutions[index]), g_(*grid_of(res_)), w_(w),
          bytes_(g_.content == 1 ? 2 : 3)
    {
    }

    int copy(GDALDatasetH out)
    {
        long first_row = w_.row0 / g_.nlat_per_tile, last_row = (w_.row0 + w_.rows - 1) / g_.nlat_per_tile;
        long first_col = w_.col0 / g_.nlon_per_tile, last_col = (w_.col0 + w_.cols - 1) / g_.nlon_per_tile;
        for (long tr = first_row; tr <= last_row; tr++)
            for (long tc = first_col; tc <= last_col; tc++)
                if (copy_tile(out, tr, tc) != 0) return -1;
        return 0;
    }

private:
    static const long kPiece = 8L << 20;

    int copy_tile(GDALDatasetH out, long tr, long tc)
    {
        int tile = static_cast<int>(tr * res_.nlon_tiles + tc);
        unsigned char *samples = nullptr;
        if (map_.holdTileGrid(index_, tile, &samples) != 0) {
            orvex_register_error(0, "%s: cannot read tile %d of resolution %d.\n", kWho, tile, index_);
            return -1;
        }
        long r0 = std::max(w_.row0, tr * g_.nlat_per_tile), r1 = std::min(w_.row0 + w_.rows, (tr + 1) * g_.nlat_per_tile);
        long c0 = std::max(w_.col0, tc * g_.nlon_per_tile), c1 = std::min(w_.col0 + w_.cols, (tc + 1) * g_.nlon_per_tile);
        long row_bytes = (c1 - c0) * bytes_;
        long step = std::max(1L, kPiece / row_bytes);
        int rc = 0;
        for (long r = r0; r < r1 && rc == 0; r += step) {
            long n = std::min(step, r1 - r);
            piece_.resize(static_cast<size_t>(n * row_bytes));
            for (long k = 0; k < n; k++) {
                const unsigned char *from = samples + ((r + k - tr * g_.nlat_per_tile) * g_.nlon_per_tile +
                                                       (c0 - tc * g_.nlon_per_tile)) * bytes_;
                memcpy(piece_.data() + k * row_bytes, from, static_cast<size_t>(row_bytes));
            }
            /* Big-endian raw grids are delivered as stored. */
            if (res_.data_type == ORVEX_DATA_DEMB)
                for (size_t i = 0; i + 1 < piece_.size(); i += 2) std::swap(piece_[i], piece_[i + 1]);
            rc = write_piece(out, r - w_.row0, c0 - w_.col0 + w_.out_col, n, c1 - c0);
        }
        map_.releaseTileGrid(index_, tile);
        return rc;
    }

    int write_piece(GDALDatasetH out, long y, long x, long rows, long cols)
    {
        int n = static_cast<int>(rows), w = static_cast<int>(cols);
        if (bytes_ == 2)
            return GDALDatasetRasterIO(out, GF_Write, static_cast<int>(x), static_cast<int>(y), w, n, piece_.data(), w,
                                       n, GDT_Int16, 1, nullptr, 0, 0, 0) == CE_None ? 0 : -1;
        int bands[3] = {1, 2, 3};
        return GDALDatasetRasterIO(out, GF_Write, static_cast<int>(x), static_cast<int>(y), w, n, piece_.data(), w, n,
                                   GDT_Byte, 3, bands, 3, 3L * w, 1) == CE_None ? 0 : -1;
    }

    Orvex &map_;
    int index_;
    const OrvexResolution &res_;
    const OrvexGrid &g_;
    Window w_;
    long bytes_;
    std::vector<unsigned char> piece_;
};

/* A name GeoPackage takes for a table: letters, digits and '_', beginning
 * with a letter, not "gpkg_". */
std::string table_name(const OrvexResolution &res, int index)
{
    std::string name;
    for (const char *c = res.name; *c && name.size() < 64; c++)
        name += isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    if (name.empty() || !isalpha(static_cast<unsigned char>(name[0])) || name.compare(0, 5, "gpkg_") == 0)
        name = "resolution_" + std::to_string(index) + (name.empty() ? "" : "_" + name);
    return name;
}

/* Copies the scratch raster with GDAL's driver; *files: every file the
 * driver wrote (the raster and what it keeps beside it). */
int copy_to(GDALDatasetH from, const std::string &path, const std::string &driver, OptionList &options,
            std::vector<std::string> *files)
{
    /* Strict: a driver that would have to change the samples fails. */
    Dataset out(GDALCreateCopy(GDALGetDriverByName(driver.c_str()), path.c_str(), from, TRUE, options.get(), nullptr,
                               nullptr));
    char **list = out.get() ? GDALGetFileList(out.get()) : nullptr;
    for (char **f = list; f && *f; f++) files->push_back(*f);
    CSLDestroy(list);
    if (!out.get() || out.close() != 0) {
        orvex_register_error(0, "%s: GDAL's %s driver cannot write %s.\n", kWho, driver.c_str(), path.c_str());
        return -1;
    }
    return 0;
}

/* The stored columns the layout takes, in one window or two (a
 * whole-circle grid wraps past its last column). */
std::vector<Window> windows_of(const OrvexGrid &g, const orvextool::ExportLayout &l)
{
    long first = std::min(l.cols, g.nlon - l.col0);
    std::vector<Window> out{Window{l.row0, l.rows, l.col0, first, 0}};
    if (first < l.cols) out.push_back(Window{l.row0, l.rows, 0, l.cols - first, first});
    return out;
}

}  // namespace

orvextool::ExportLayout grid_export_layout(const OrvexGrid &g, const orvextool::Region *region, bool keep_columns)
{
    orvextool::GridGeometry geometry;
    geometry.lon_start = g.lon_start;
    geometry.dlon = g.dlon;
    geometry.lat_start = g.lat_start;
    geometry.dlat = g.dlat;
    geometry.nlon = g.nlon;
    geometry.nlat = g.nlat;
    return orvextool::export_layout(geometry, region, keep_columns);
}

int export_grid(Orvex &map, int index, const orvextool::ExportOptions &o, OutputGroup &out, const std::string &driver)
{
    GdalErrors errors;
    /* Formats that keep georeferencing in a side file (.aux.xml) would
     * leave it beside the temporary name: side files are written apart. */
    CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
    const OrvexResolution &res = map.frame.resolutions[index];
    const OrvexGrid *g = grid_of(res);
    OptionList options;
    if (exact_raster_options(driver, g->content != 1, table_name(res, index), &options) != 0) return -1;
    orvextool::ExportLayout layout = grid_export_layout(*g, o.has_region ? &o.region : nullptr, o.keep_columns);
    if (layout.rows < 1 || layout.cols < 1) {
        orvex_register_error(0, "%s: the region holds no sample of resolution %d.\n", kWho, index);
        return -1;
    }
    if (tile_bytes(*g) < 0) {
        orvex_register_error(0, "%s: resolution %d has tiles of %ld x %ld samples, more bytes than a file holds.\n",
                             kWho, index, g->nlon_per_tile, g->nlat_per_tile);
        return -1;
    }
    /* GDAL counts a raster's rows and columns in ints. */
    if (layout.rows > INT32_MAX || layout.cols > INT32_MAX) {
        orvex_register_error(0, "%s: the samples to export, %ld x %ld, are more than the %d a raster takes each way.\n",
                             kWho, layout.cols, layout.rows, INT32_MAX);
        return -1;
    }
    const std::string &path = out.main().temp_path();
    ScratchFolder scratch(folder_of(path), "grid.tif", nullptr);
    if (!scratch.ready()) return -1;
    Dataset ds(create_scratch(scratch.file_path(), *g, layout));
    if (!ds.get()) {
        orvex_register_error(0, "%s: cannot create the scratch raster %s.\n", kWho, scratch.file_path().c_str());
        return -1;
    }
    for (const Window &w : windows_of(*g, layout))
        if (TileCopier(map, index, w).copy(ds.get()) != 0) return -1;
    std::vector<std::string> files;
    int rc = copy_to(ds.get(), path, driver, options, &files);
    /* Looked at before the driver's own side files (a .prj, say) move. */
    bool placed = rc == 0 && georeferenced(path);
    if (adopt_driver_files(files, out, o.overwrite) != 0 || rc != 0) return -1;
    return placed ? 0 : georeference_beside(path, layout.transform, out, o.overwrite);
}

}  // namespace orvexcli
