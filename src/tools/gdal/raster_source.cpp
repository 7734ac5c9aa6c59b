// A raster of any format GDAL reads becomes a raw grid the map library
// opens: rows are read a strip of blocks at a time, converted and written
// to the scratch file, so memory follows the blocks, never the raster. A
// build asks for the rows a band at a time as its tiles need them and gives
// them back after, so the scratch file holds a band, never the raster.
// Rasters in other coordinate systems are read through GDAL's warper, in
// longitude and latitude.
#include <gdal_utils.h>
#include <math.h>
#include <ogr_srs_api.h>
#include <stdio.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
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

/* Reads windows of the raster and converts them to the map's samples. */
class RowConverter {
public:
    RowConverter(const Reading &r, long cols) : r_(r), cols_(cols)
    {
        GDALDataType type = GDALGetRasterDataType(GDALGetRasterBand(r.ds, 1));
        as_is_ = !r.colour && r.scale.scale == 1 && r.scale.offset == 0 && (type == GDT_Int16 || type == GDT_Byte);
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

    long sample_bytes() const { return r_.colour ? 3 : 2; }
    long row_bytes() const { return cols_ * (r_.colour && !r_.palette ? 3 : as_is_ ? 2 : 8); }

    /* Rows [y, y + n) of columns [x, x + m): the converted samples in
     * *data; the elevation samples from `count_from` on are counted in
     * *counts. 0, or -1 when GDAL cannot read them. */
    int read(long y, long n, long x, long m, size_t count_from, orvextool::SampleCounts *counts, const unsigned char **data)
    {
        size_t count = static_cast<size_t>(n * m);
        if (r_.colour && !r_.palette) {
            int rc = read_rgb(y, n, x, m);
            *data = bytes_.data();
            return rc;
        }
        if (as_is_) {
            int rc = read_as_is(y, n, x, m, count, count_from, counts);
            *data = reinterpret_cast<const unsigned char *>(shorts_.data());
            return rc;
        }
        values_.resize(count);
        if (GDALRasterIO(GDALGetRasterBand(r_.ds, 1), GF_Read, static_cast<int>(x), static_cast<int>(y),
                         static_cast<int>(m), static_cast<int>(n), values_.data(), static_cast<int>(m),
                         static_cast<int>(n), GDT_Float64, 0, 0) != CE_None)
            return -1;
        if (r_.palette) put_palette(count);
        else put_elevations(count, count_from, counts);
        *data = r_.palette ? bytes_.data() : reinterpret_cast<const unsigned char *>(shorts_.data());
        return 0;
    }

    /* True when a block the raster never wrote converts to zero bytes: GDAL
     * reads it as the no-data value, or zero without one. */
    bool unwritten_is_zero() const
    {
        if (r_.palette) return false;
        orvextool::SampleCounts uncounted;
        for (int b = 1; b <= (r_.colour ? 3 : 1); b++) {
            int has = 0;
            double fill = GDALGetRasterNoDataValue(GDALGetRasterBand(r_.ds, b), &has);
            if (!has) fill = 0;
            if (r_.colour ? fill != 0 : orvextool::elevation_sample(fill, r_.scale, &uncounted) != 0) return false;
        }
        return true;
    }

private:
    /* 16-bit and byte samples without scale or offset are the map's
     * samples as they are but for the no-data value: read as 16-bit
     * integers, without the round trip through doubles. */
    int read_as_is(long y, long n, long x, long m, size_t count, size_t count_from, orvextool::SampleCounts *counts)
    {
        shorts_.resize(count);
        if (GDALRasterIO(GDALGetRasterBand(r_.ds, 1), GF_Read, static_cast<int>(x), static_cast<int>(y),
                         static_cast<int>(m), static_cast<int>(n), shorts_.data(), static_cast<int>(m),
                         static_cast<int>(n), GDT_Int16, 0, 0) != CE_None)
            return -1;
        if (!r_.scale.has_nodata) return 0;
        for (size_t i = 0; i < count; i++) {
            if (shorts_[i] != r_.scale.nodata) continue;
            shorts_[i] = ORVEX_NODATA;
            if (i >= count_from) counts->nodata++;
        }
        return 0;
    }

    int read_rgb(long y, long n, long x, long m)
    {
        bytes_.resize(static_cast<size_t>(n * m * 3));
        int bands[3] = {1, 2, 3};
        if (GDALDatasetRasterIOEx(r_.ds, GF_Read, static_cast<int>(x), static_cast<int>(y), static_cast<int>(m),
                                  static_cast<int>(n), bytes_.data(), static_cast<int>(m), static_cast<int>(n),
                                  GDT_Byte, 3, bands, 3, 3 * static_cast<GSpacing>(m), 1, nullptr) != CE_None)
            return -1;
        return 0;
    }

    void put_palette(size_t count)
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
    }

    void put_elevations(size_t count, size_t count_from, orvextool::SampleCounts *counts)
    {
        orvextool::SampleCounts uncounted;
        shorts_.resize(count);
        for (size_t i = 0; i < count; i++)
            shorts_[i] = orvextool::elevation_sample(values_[i], r_.scale, i >= count_from ? counts : &uncounted);
    }

    struct Rgb {
        unsigned char r, g, b;
    };
    const Reading &r_;
    long cols_;
    bool as_is_ = false;
    std::vector<Rgb> lut_;
    std::vector<double> values_;
    std::vector<unsigned char> bytes_;
    std::vector<short> shorts_;
};

int write_at(int fd, const unsigned char *p, size_t n, off_t at)
{
    while (n > 0) {
        ssize_t w = pwrite(fd, p, n, at);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return -1;
        p += w;
        n -= static_cast<size_t>(w);
        at += w;
    }
    return 0;
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

int supply_rows(void *arg, long row0, long row1);
void release_rows(void *arg, long row0, long row1);

}  // namespace

/* The open raster and the scratch grid its rows are converted into. Rows
 * are written where the whole grid would hold them, into a file of the
 * grid's size that holds no data blocks elsewhere: released rows are
 * punched out again, so the disk holds only the rows in use. */
struct RasterGrid::Source {
    Dataset ds, warped; /* the warped view goes first */
    Reading r;
    std::unique_ptr<RowConverter> rows;
    std::string name;
    int fd = -1;
    long cols = 0, nrows = 0, block_rows = 0, block_cols = 0;
    long limit = 0;          /* bytes of rows held at once; 0: no limit */
    long held = 0, peak = 0; /* bytes of rows written and not released */
    long rows_read = 0;      /* rows read from the raster for a build */
    long counted_to = 0;     /* rows counted in the summary so far */
    bool skip_unwritten = false;
    RasterSummary *summary = nullptr;
    std::mutex mutex;

    ~Source()
    {
        if (fd >= 0) close(fd);
    }
    long grid_row_bytes() const { return cols * rows->sample_bytes(); }
    /* Columns read at once: sixteen blocks of a sparse raster, else all,
     * as long as a row of them fits the strip budget. */
    long piece_cols() const
    {
        return orvextool::piece_cols(cols, block_cols, rows->row_bytes() / cols,
                                     skip_unwritten && block_cols > 0 ? block_cols * 16L : 0, kStripBudget);
    }
    bool unwritten(long y, long n, long x, long m);
    int supply(long row0, long row1);
    int convert_rows(long y, long n);
    int convert(long y, long n, long x, long m, long skip);
    void release(long row0, long row1);
};

/* True when the raster says it never wrote the window of rows [y, y + n)
 * and columns [x, x + m). */
bool RasterGrid::Source::unwritten(long y, long n, long x, long m)
{
    if (!skip_unwritten) return false;
    double pct = 0;
    int st = GDALGetDataCoverageStatus(GDALGetRasterBand(r.ds, 1), static_cast<int>(x), static_cast<int>(y),
                                       static_cast<int>(m), static_cast<int>(n), 0, &pct);
    return st == GDAL_DATA_COVERAGE_STATUS_EMPTY;
}

/* Converts rows [y, y + n) into the scratch grid, leaving out the pieces
 * of the width a sparse raster never wrote: reading them would only make
 * zeros, block by block. Rows below counted_to were counted already. */
int RasterGrid::Source::convert_rows(long y, long n)
{
    bool count = y + n > counted_to;
    long piece = piece_cols();
    for (long x = 0; x < cols; x += piece) {
        long m = std::min(piece, cols - x);
        if (unwritten(y, n, x, m)) continue; /* the scratch grid holds zeros there already */
        if (convert(y, n, x, m, count ? std::max(0L, counted_to - y) : n) != 0) return -1;
    }
    if (count) counted_to = y + n;
    return 0;
}

/* Converts the window of rows [y, y + n) and columns [x, x + m) into the
 * scratch grid; the samples of rows from y + skip on are counted. */
int RasterGrid::Source::convert(long y, long n, long x, long m, long skip)
{
    orvextool::SampleCounts counts;
    const unsigned char *data;
    if (rows->read(y, n, x, m, static_cast<size_t>(skip * m), &counts, &data) != 0) return -1;
    summary->nodata += counts.nodata;
    summary->clamped += counts.clamped;
    long ss = rows->sample_bytes();
    for (long i = 0; i < n; i++) {
        off_t at = static_cast<off_t>((y + i) * cols + x) * ss;
        if (write_at(fd, data + i * m * ss, static_cast<size_t>(m * ss), at) != 0) {
            orvex_register_error(1, "%s: cannot write the scratch grid of %s.\n", kWho, name.c_str());
            return -1;
        }
    }
    return 0;
}

int RasterGrid::Source::supply(long row0, long row1)
{
    std::lock_guard<std::mutex> lock(mutex);
    long need = (row1 - row0) * grid_row_bytes();
    if (limit > 0 && held + need > limit) {
        orvex_register_error(0,
                             "%s: rows %ld to %ld of %s need %ld bytes of scratch beside the %ld held, more "
                             "than the limit of %ld bytes.\n",
                             kWho, row0, row1 - 1, name.c_str(), need, held, limit);
        return -1;
    }
    held += need;
    peak = held > peak ? held : peak;
    rows_read += row1 - row0;
    long strip = orvextool::strip_rows(block_rows, rows->row_bytes() / cols * piece_cols(), kStripBudget);
    for (long y = row0; y < row1; y += strip) {
        long n = std::min(strip, row1 - y);
        if (convert_rows(y, n) == 0) continue;
        orvex_register_error(0, "%s: cannot read the raster '%s' (rows %ld to %ld).\n", kWho, name.c_str(), y,
                             y + n - 1);
        return -1;
    }
    return 0;
}

/* Rows whose blocks cannot be punched out stay held, and count against
 * the limit. */
void RasterGrid::Source::release(long row0, long row1)
{
    std::lock_guard<std::mutex> lock(mutex);
    long rb = grid_row_bytes();
    if (fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(row0 * rb),
                  static_cast<off_t>((row1 - row0) * rb)) == 0)
        held -= (row1 - row0) * rb;
}

namespace {

int supply_rows(void *arg, long row0, long row1)
{
    return static_cast<RasterGrid::Source *>(arg)->supply(row0, row1);
}

void release_rows(void *arg, long row0, long row1)
{
    static_cast<RasterGrid::Source *>(arg)->release(row0, row1);
}

}  // namespace

RasterGrid::RasterGrid() = default;
RasterGrid::~RasterGrid() = default;

const std::string &RasterGrid::path() const
{
    static const std::string none;
    return scratch_ ? scratch_->file_path() : none;
}

/* Opens the raster (or its warped view) and chooses how it is read. */
int RasterGrid::open_source(const std::string &source, const RasterOptions &options, double t[6])
{
    Source &s = *source_;
    s.ds.reset(GDALOpenEx(source.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!s.ds.get()) {
        orvex_register_error(0, "%s: GDAL cannot open %s as a raster.\n", kWho, source.c_str());
        return -1;
    }
    if (choose_reading(s.ds.get(), source, &s.r) != 0) return -1;
    bool has_transform = GDALGetGeoTransform(s.ds.get(), t) == CE_None;
    if (!has_transform && GDALGetGCPCount(s.ds.get()) == 0) {
        orvex_register_error(0, "%s: %s is not georeferenced (no transform, no control points).\n", kWho,
                             source.c_str());
        return -1;
    }
    bool refused = false;
    summary_.warped = !has_transform || options.spacing > 0 || needs_warp(s.ds.get(), t, source, &refused);
    if (refused) return -1;
    if (summary_.warped) {
        s.warped.reset(warp(s.ds.get(), s.r.colour, options.spacing));
        if (!s.warped.get()) {
            orvex_register_error(0, "%s: GDAL cannot warp %s to longitude and latitude.\n", kWho, source.c_str());
            return -1;
        }
        GDALGetGeoTransform(s.warped.get(), t);
    }
    s.r.ds = summary_.warped ? s.warped.get() : s.ds.get();
    summary_.driver = GDALGetDriverShortName(GDALGetDatasetDriver(s.ds.get()));
    summary_.colour = s.r.colour;
    /* Any size GDAL opens is taken: the grid's sizes are 64-bit and the
     * reads are cut to the strip budget however wide the raster is. */
    summary_.cols = GDALGetRasterXSize(s.r.ds);
    summary_.rows = GDALGetRasterYSize(s.r.ds);
    return 0;
}

/* The scratch grid of the raster's size, holding no rows yet. */
int RasterGrid::make_scratch(const std::string &parent, const RasterOptions &options, const double t[6])
{
    Source &s = *source_;
    std::unique_ptr<ScratchFolder> scratch(new ScratchFolder(parent, s.r.colour ? "grid.rgb" : "grid.dem", ".pf"));
    if (!scratch->ready()) return -1;
    s.cols = summary_.cols;
    s.nrows = summary_.rows;
    s.rows.reset(new RowConverter(s.r, s.cols));
    s.limit = options.scratch_limit;
    s.summary = &summary_;
    int block_cols = 0, block_rows = 0;
    GDALGetBlockSize(GDALGetRasterBand(s.r.ds, 1), &block_cols, &block_rows);
    s.block_rows = block_rows;
    s.block_cols = block_cols;
    s.skip_unwritten = s.rows->unwritten_is_zero();
    if (write_parameters(scratch->companion_path(), t, s.cols, s.nrows) != 0 ||
        write_empty(scratch->file_path(), s.nrows * s.grid_row_bytes()) != 0)
        return -1;
    s.fd = open(scratch->file_path().c_str(), O_RDWR | O_CLOEXEC);
    if (s.fd < 0) {
        orvex_register_error(1, "%s: cannot open %s.\n", kWho, scratch->file_path().c_str());
        return -1;
    }
    scratch_ = std::move(scratch);
    return 0;
}

int RasterGrid::convert(const std::string &source, const std::string &parent, const RasterOptions &options)
{
    GdalErrors errors;
    source_.reset(new Source());
    source_->name = source;
    double t[6];
    int rc = open_source(source, options, t);
    if (rc == 0) rc = make_scratch(parent, options, t);
    /* Read whole now unless the rows are read as a build needs them. */
    if (rc == 0 && options.samples && !options.stream && source_->supply(0, summary_.rows) != 0) {
        orvex_register_error(0, "%s: cannot read the samples of %s.\n", kWho, source.c_str());
        rc = -1;
    }
    if (rc != 0) {
        source_.reset();
        scratch_.reset();
        return -1;
    }
    summary_.read = options.samples && !options.stream;
    feed_ = OrvexRowFeed{options.stream ? supply_rows : nullptr, options.stream ? release_rows : nullptr,
                         source_.get()};
    test_checkpoint("raster-converted");
    return 0;
}

const OrvexRowFeed *RasterGrid::row_feed() const
{
    return feed_.supply ? &feed_ : nullptr;
}

int RasterGrid::read_sample(long row, long col)
{
    if (!source_ || row < 0 || col < 0 || row >= summary_.rows || col >= summary_.cols) return 0;
    std::lock_guard<std::mutex> lock(source_->mutex);
    if (source_->convert(row, 1, col, 1, 1) == 0) return 0;
    orvex_register_error(0, "%s: cannot read the raster '%s' at row %ld, column %ld.\n", kWho,
                         source_->name.c_str(), row, col);
    return -1;
}

long RasterGrid::scratch_peak() const
{
    return source_ ? source_->peak : 0;
}

long RasterGrid::rows_read() const
{
    return source_ ? source_->rows_read : 0;
}

std::string RasterGrid::describe(const std::string &source) const
{
    const RasterSummary &s = summary_;
    std::string text = "'" + source + "' through GDAL (" + s.driver + "): " + std::to_string(s.cols) + " x " +
                       std::to_string(s.rows) + (s.colour ? " colours" : " elevations");
    if (s.warped) text += ", warped to longitude/latitude";
    if (!s.colour && s.read) text += ", " + counts();
    return text;
}

std::string RasterGrid::counts() const
{
    return std::to_string(summary_.nodata) + " without value, " + std::to_string(summary_.clamped) +
           " clamped to -32768..32767";
}

}  // namespace orvexcli
