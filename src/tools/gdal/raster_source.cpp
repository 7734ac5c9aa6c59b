// A raster of any format GDAL reads becomes a raw grid the map library
// opens: rows are read a strip of blocks at a time, converted and appended
// to the scratch file, so memory follows the blocks, never the raster.
// Rasters in other coordinate systems are read through GDAL's warper, in
// longitude and latitude.
#include <gdal_utils.h>
#include <limits.h>
#include <math.h>
#include <ogr_srs_api.h>
#include <stdio.h>
#include <unistd.h>

#include <vector>

#include "gdal_common.h"
#include "gdal_io.h"
#include "raster_values.h"

namespace orvexcli {

namespace {

const char kWho[] = "orvex: raster";
const long kStripBudget = 32L << 20; /* bytes of samples read at once */

/* How the samples become the map's: one elevation band, three colour
 * bands, or one band of palette indexes. */
struct Reading {
    GDALDatasetH ds = nullptr; /* the raster, or its warped view */
    bool colour = false;
    GDALColorTableH palette = nullptr;
    orvextool::ElevationScale scale;
};

bool is_degrees(OGRSpatialReferenceH srs)
{
    if (!OSRIsGeographic(srs)) return false;
    return fabs(OSRGetAngularUnits(srs, nullptr) - M_PI / 180.0) < 1e-12;
}

/* True when the samples already lie on a longitude/latitude lattice. A
 * transform without a coordinate system is taken for degrees when its
 * samples lie on the Earth. */
bool needs_warp(GDALDatasetH ds, const double t[6], const std::string &source, bool *refused)
{
    *refused = false;
    if (t[2] != 0 || t[4] != 0) return true;
    OGRSpatialReferenceH srs = GDALGetSpatialRef(ds);
    if (srs) return !is_degrees(srs);
    if (!orvextool::centres_on_earth(t, GDALGetRasterXSize(ds), GDALGetRasterYSize(ds))) {
        orvex_register_error(0, "%s: %s has no coordinate system and its coordinates are not degrees.\n", kWho,
                             source.c_str());
        *refused = true;
    }
    return false;
}

std::string number(double v)
{
    char buf[40];
    snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

/* A virtual view of `src` in longitude and latitude (WGS 84), nearest
 * sample; elevations as doubles with NaN where nothing maps. */
GDALDatasetH warp(GDALDatasetH src, bool colour, double spacing)
{
    OptionList args{"-of", "VRT", "-t_srs", "EPSG:4326", "-r", "near"};
    if (!colour) {
        for (const char *a : {"-ot", "Float64", "-dstnodata", "nan"}) args.add(a);
    }
    if (spacing > 0) {
        for (const std::string &a : {std::string("-tr"), number(spacing), number(spacing)}) args.add(a);
    }
    GDALWarpAppOptions *options = GDALWarpAppOptionsNew(args.get(), nullptr);
    if (!options) return nullptr;
    GDALDatasetH sources[1] = {src};
    GDALDatasetH out = GDALWarp("", nullptr, 1, sources, options, nullptr);
    GDALWarpAppOptionsFree(options);
    return out;
}

bool is_byte(GDALDatasetH ds, int band)
{
    return GDALGetRasterDataType(GDALGetRasterBand(ds, band)) == GDT_Byte;
}

/* Chooses colour or elevation from the raster's bands. */
int choose_reading(GDALDatasetH ds, const std::string &source, Reading *r)
{
    int bands = GDALGetRasterCount(ds);
    if (bands < 1) {
        orvex_register_error(0, "%s: %s has no raster band.\n", kWho, source.c_str());
        return -1;
    }
    GDALRasterBandH first = GDALGetRasterBand(ds, 1);
    if (GDALDataTypeIsComplex(GDALGetRasterDataType(first))) {
        orvex_register_error(0, "%s: %s holds complex numbers, not elevations or colours.\n", kWho, source.c_str());
        return -1;
    }
    r->palette = GDALGetRasterColorInterpretation(first) == GCI_PaletteIndex ? GDALGetRasterColorTable(first) : nullptr;
    r->colour = r->palette || (bands >= 3 && is_byte(ds, 1) && is_byte(ds, 2) && is_byte(ds, 3));
    int ok = 0;
    double nodata = GDALGetRasterNoDataValue(first, &ok);
    r->scale.has_nodata = ok != 0;
    /* Float32 samples compare with the no-data value as a float. */
    r->scale.nodata = GDALGetRasterDataType(first) == GDT_Float32 ? static_cast<float>(nodata) : nodata;
    r->scale.scale = GDALGetRasterScale(first, &ok);
    if (!ok) r->scale.scale = 1;
    r->scale.offset = GDALGetRasterOffset(first, &ok);
    if (!ok) r->scale.offset = 0;
    return 0;
}

int write_parameters(const std::string &path, const double t[6], long cols, long rows)
{
    orvextool::GridPlacement p = orvextool::first_sample(t);
    FILE *f = fopen(path.c_str(), "w");
    if (!f) {
        orvex_register_error(1, "%s: cannot create %s.\n", kWho, path.c_str());
        return -1;
    }
    fprintf(f, "lat %.17g\ndlat %.17g\nlon %.17g\ndlon %.17g\nnlat %ld\nnlon %ld\n", p.lat, p.dlat, p.lon, p.dlon,
            rows, cols);
    if (fclose(f) != 0) {
        orvex_register_error(1, "%s: cannot write %s.\n", kWho, path.c_str());
        return -1;
    }
    return 0;
}

/* Reads rows [y, y + n) and appends them to `out` as the map's samples. */
class StripWriter {
public:
    StripWriter(const Reading &r, long cols, FILE *out, RasterSummary *summary)
        : r_(r), cols_(cols), out_(out), summary_(summary)
    {
        if (r.palette) {
            int n = GDALGetColorEntryCount(r.palette);
            for (int i = 0; i < n; i++) {
                GDALColorEntry e;
                GDALGetColorEntryAsRGB(r.palette, i, &e);
                lut_.push_back({static_cast<unsigned char>(e.c1), static_cast<unsigned char>(e.c2),
                                static_cast<unsigned char>(e.c3)});
            }
        }
    }

    long row_bytes() const { return cols_ * (r_.colour && !r_.palette ? 3 : 8); }

    int write(long y, long n)
    {
        if (r_.colour && !r_.palette) return write_rgb(y, n);
        size_t count = static_cast<size_t>(n * cols_);
        values_.resize(count);
        if (GDALRasterIO(GDALGetRasterBand(r_.ds, 1), GF_Read, 0, static_cast<int>(y), static_cast<int>(cols_),
                         static_cast<int>(n), values_.data(), static_cast<int>(cols_), static_cast<int>(n),
                         GDT_Float64, 0, 0) != CE_None)
            return -1;
        return r_.palette ? put_palette(count) : put_elevations(count);
    }

private:
    int write_rgb(long y, long n)
    {
        bytes_.resize(static_cast<size_t>(n * cols_ * 3));
        int bands[3] = {1, 2, 3};
        if (GDALDatasetRasterIO(r_.ds, GF_Read, 0, static_cast<int>(y), static_cast<int>(cols_), static_cast<int>(n),
                                bytes_.data(), static_cast<int>(cols_), static_cast<int>(n), GDT_Byte, 3, bands, 3,
                                3 * cols_, 1) != CE_None)
            return -1;
        return put(bytes_.data(), bytes_.size());
    }

    int put_palette(size_t count)
    {
        bytes_.assign(count * 3, 0);
        for (size_t i = 0; i < count; i++) {
            double v = values_[i];
            if (!(v >= 0) || v >= static_cast<double>(lut_.size())) continue; /* outside the palette: black */
            const Rgb &c = lut_[static_cast<size_t>(v)];
            bytes_[3 * i] = c.r;
            bytes_[3 * i + 1] = c.g;
            bytes_[3 * i + 2] = c.b;
        }
        return put(bytes_.data(), bytes_.size());
    }

    int put_elevations(size_t count)
    {
        orvextool::SampleCounts counts;
        shorts_.resize(count);
        for (size_t i = 0; i < count; i++) shorts_[i] = orvextool::elevation_sample(values_[i], r_.scale, &counts);
        summary_->nodata += counts.nodata;
        summary_->clamped += counts.clamped;
        return put(shorts_.data(), count * sizeof(short));
    }

    int put(const void *data, size_t bytes)
    {
        if (fwrite(data, 1, bytes, out_) == bytes) return 0;
        orvex_register_error(1, "%s: cannot write the raw grid.\n", kWho);
        return -1;
    }

    struct Rgb {
        unsigned char r, g, b;
    };
    const Reading &r_;
    long cols_;
    FILE *out_;
    RasterSummary *summary_;
    std::vector<Rgb> lut_;
    std::vector<double> values_;
    std::vector<unsigned char> bytes_;
    std::vector<short> shorts_;
};

int write_samples(const Reading &r, const std::string &path, long cols, long rows, RasterSummary *summary)
{
    FILE *out = fopen(path.c_str(), "wb");
    if (!out) {
        orvex_register_error(1, "%s: cannot create %s.\n", kWho, path.c_str());
        return -1;
    }
    StripWriter writer(r, cols, out, summary);
    int block_cols = 0, block_rows = 0;
    GDALGetBlockSize(GDALGetRasterBand(r.ds, 1), &block_cols, &block_rows);
    long strip = orvextool::strip_rows(block_rows, writer.row_bytes(), kStripBudget);
    int rc = 0;
    for (long y = 0; y < rows && rc == 0; y += strip) rc = writer.write(y, std::min(strip, rows - y));
    if (fclose(out) != 0 && rc == 0) {
        orvex_register_error(1, "%s: cannot write %s.\n", kWho, path.c_str());
        rc = -1;
    }
    return rc;
}

/* Only the geometry: a file of the grid's size that holds no data blocks. */
int write_empty(const std::string &path, long bytes)
{
    FILE *out = fopen(path.c_str(), "wb");
    if (!out || ftruncate(fileno(out), bytes) != 0 || fclose(out) != 0) {
        orvex_register_error(1, "%s: cannot create %s.\n", kWho, path.c_str());
        if (out) fclose(out);
        return -1;
    }
    return 0;
}

}  // namespace

RasterGrid::RasterGrid() = default;
RasterGrid::~RasterGrid() = default;

const std::string &RasterGrid::path() const
{
    static const std::string none;
    return scratch_ ? scratch_->file_path() : none;
}

int RasterGrid::convert(const std::string &source, const std::string &parent, const RasterOptions &options)
{
    GdalErrors errors;
    Dataset ds(GDALOpenEx(source.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!ds.get()) {
        orvex_register_error(0, "%s: GDAL cannot open %s as a raster.\n", kWho, source.c_str());
        return -1;
    }
    Reading r;
    if (choose_reading(ds.get(), source, &r) != 0) return -1;
    double t[6];
    bool has_transform = GDALGetGeoTransform(ds.get(), t) == CE_None;
    if (!has_transform && GDALGetGCPCount(ds.get()) == 0) {
        orvex_register_error(0, "%s: %s is not georeferenced (no transform, no control points).\n", kWho,
                             source.c_str());
        return -1;
    }
    bool refused = false;
    summary_.warped = !has_transform || options.spacing > 0 || needs_warp(ds.get(), t, source, &refused);
    if (refused) return -1;
    Dataset warped(summary_.warped ? warp(ds.get(), r.colour, options.spacing) : nullptr);
    if (summary_.warped && !warped.get()) {
        orvex_register_error(0, "%s: GDAL cannot warp %s to longitude and latitude.\n", kWho, source.c_str());
        return -1;
    }
    r.ds = summary_.warped ? warped.get() : ds.get();
    if (summary_.warped) GDALGetGeoTransform(r.ds, t);
    summary_.driver = GDALGetDriverShortName(GDALGetDatasetDriver(ds.get()));
    summary_.colour = r.colour;
    summary_.cols = GDALGetRasterXSize(r.ds);
    summary_.rows = GDALGetRasterYSize(r.ds);
    if (summary_.cols > INT_MAX / 3 || summary_.rows > INT_MAX / 3) {
        orvex_register_error(0, "%s: %s is too large (%ld x %ld samples).\n", kWho, source.c_str(), summary_.cols,
                             summary_.rows);
        return -1;
    }
    std::unique_ptr<ScratchFolder> scratch(new ScratchFolder(parent, r.colour ? "grid.rgb" : "grid.dem", ".pf"));
    if (!scratch->ready()) return -1;
    long bytes = summary_.cols * summary_.rows * (r.colour ? 3 : 2);
    int rc = write_parameters(scratch->companion_path(), t, summary_.cols, summary_.rows);
    if (rc == 0)
        rc = options.samples ? write_samples(r, scratch->file_path(), summary_.cols, summary_.rows, &summary_)
                             : write_empty(scratch->file_path(), bytes);
    if (rc != 0) {
        orvex_register_error(0, "%s: cannot read the samples of %s.\n", kWho, source.c_str());
        return -1;
    }
    summary_.read = options.samples;
    test_checkpoint("raster-converted");
    scratch_ = std::move(scratch);
    return 0;
}

std::string RasterGrid::describe(const std::string &source) const
{
    const RasterSummary &s = summary_;
    std::string text = "'" + source + "' through GDAL (" + s.driver + "): " + std::to_string(s.cols) + " x " +
                       std::to_string(s.rows) + (s.colour ? " colours" : " elevations");
    if (s.warped) text += ", warped to longitude/latitude";
    if (!s.colour && s.read) text += ", " + std::to_string(s.nodata) + " without value, " + std::to_string(s.clamped) +
                           " clamped to -32768..32767";
    return text;
}

}  // namespace orvexcli
