// Writing the tiles of a declared grid resolution. Each output sample is
// made from a window of source samples around every dec-th source sample:
// the highest valid elevation, or the average colour (optionally lightened
// and gamma-adjusted). The samples of one tile are gathered in a small
// buffer, deflated (or not) in chunks and appended at the end of the file;
// the tile's index entry then receives the payload's position, size and
// elevation range.
//
// Locating a source sample splits into a row that depends only on the
// latitude and a column that depends only on the longitude, so both are
// computed once per window row and column of the tile, with the very
// functions findPixelWithinTile uses, instead of once per sample read.

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "OrvexInternal.h"
#include "tile_location.h"

namespace {

const char *const kWho = "Orvex::writeTileDataGrid";
const size_t kSampleBufferSize = 4196;
const size_t kFlushAbove = 4192;  // a sample adds at most 3 bytes
const size_t kDeflateBufferSize = 3600;

int fail(int flag, const char *what)
{
    orvex_register_error(flag, "%s: %s\n", kWho, what);
    return -1;
}

// Gathers a tile's sample bytes and appends them to the file, deflated
// into one zlib stream or as they are.
class PayloadSink {
public:
    PayloadSink(int fd, bool compressed) : fd_(fd), compressed_(compressed) { memset(&zs_, 0, sizeof zs_); }
    ~PayloadSink()
    {
        if (stream_open_) deflateEnd(&zs_);
    }

    int open()
    {
        if (!compressed_) return 0;
        if (deflateInit(&zs_, Z_DEFAULT_COMPRESSION) != Z_OK) return fail(0, "deflateInit() error.");
        stream_open_ = true;
        return 0;
    }

    // Where the next sample goes; commit() takes it and flushes when the
    // buffer is nearly full.
    unsigned char *tail() { return in_ + used_; }
    int commit(size_t n)
    {
        used_ += n;
        return used_ > kFlushAbove ? flush() : 0;
    }

    int flush()
    {
        if (used_ == 0) return 0;
        int rc = compressed_ ? deflate_buffer() : write_bytes(in_, used_);
        used_ = 0;
        return rc;
    }

    // Flushes the rest and ends the zlib stream.
    int finish()
    {
        if (flush() < 0) return -1;
        if (!compressed_) return 0;
        int rc;
        zs_.next_in = nullptr;
        zs_.avail_in = 0;
        for (;;) {
            zs_.next_out = out_;
            zs_.avail_out = kDeflateBufferSize;
            rc = deflate(&zs_, Z_FINISH);
            if (rc != Z_OK && rc != Z_STREAM_END) return fail(0, "deflate() error.");
            size_t have = kDeflateBufferSize - zs_.avail_out;
            if (have == 0) break;
            if (write_bytes(out_, have) < 0) return -1;
            if (rc == Z_STREAM_END) break;
        }
        deflateEnd(&zs_);
        stream_open_ = false;
        if (rc != Z_STREAM_END) return fail(0, "deflate() error.");
        return 0;
    }

    unsigned long payload_bytes() const { return payload_; }

private:
    int deflate_buffer()
    {
        zs_.next_in = in_;
        zs_.avail_in = static_cast<uInt>(used_);
        do {
            zs_.next_out = out_;
            zs_.avail_out = kDeflateBufferSize;
            int rc = deflate(&zs_, Z_NO_FLUSH);
            // Z_BUF_ERROR only says that no progress was possible: the
            // previous call filled the buffer exactly and nothing is left.
            if (rc != Z_OK && rc != Z_BUF_ERROR) return fail(0, "deflate() error.");
            size_t have = kDeflateBufferSize - zs_.avail_out;
            if (have > 0 && write_bytes(out_, have) < 0) return -1;
        } while (zs_.avail_out == 0);
        return 0;
    }

    int write_bytes(const unsigned char *p, size_t n)
    {
        if (orvex_write_all(fd_, p, n) != ORVEX_IO_OK) return fail(1, "write() error.");
        payload_ += n;
        return 0;
    }

    int fd_;
    bool compressed_;
    bool stream_open_ = false;
    z_stream zs_;
    unsigned char in_[kSampleBufferSize];
    unsigned char out_[kDeflateBufferSize];
    size_t used_ = 0;
    unsigned long payload_ = 0;
};

// Everything one tile needs, resolved by the preparation.
struct TileJob {
    OrvexResolution *s = nullptr;  // source resolution and grid
    OrvexGrid *sg = nullptr;
    OrvexGrid *dg = nullptr;       // output grid
    OrvexGridTile *entry = nullptr;  // file positions of the index entry
    const unsigned char *src = nullptr;
    long dec = 1, dec0 = 0, dec1 = 1;
    long ilat = 0, ilon = 0, nlat = 0, nlon = 0;  // first source row/column, span
    long ilat_tile_src = 0, ilon_tile_src = 0;
    bool swap = false;
    long zmin = ORVEX_NODATA, zmax = ORVEX_NODATA;
};

// Byte offsets, inside the source tile, of the rows and columns that the
// windows of one output tile visit; -1 where there is no sample.
struct WindowTables {
    long wlen = 0;   // window rows (and columns) per output sample
    long *rows = nullptr;  // indexed by window row - (ilat - dec0)
    long *cols = nullptr;  // indexed by window column - (ilon - dec0)
    long *live = nullptr;  // the rows of the current output row that hold samples
    ~WindowTables() { free(rows); }

    int build(const TileJob &j)
    {
        wlen = j.dec0 + j.dec1;
        long nrows = j.nlat - j.dec + wlen, ncols = j.nlon - j.dec + wlen;
        if (nrows < 0) nrows = 0;
        if (ncols < 0) ncols = 0;
        rows = static_cast<long *>(orvex_calloc(static_cast<size_t>(nrows + ncols + wlen), sizeof(long)));
        if (!rows) return fail(1, "malloc(window tables) error.");
        cols = rows + nrows;
        live = cols + ncols;
        long ss = j.sg->content == 1 ? 2 : 3;
        for (long k = 0; k < nrows; k++) {
            long y = j.ilat - j.dec0 + k;
            rows[k] = -1;
            if (y < 0 || y >= j.sg->nlat) continue;
            long r = orvex_pixel_row(j.s, j.sg, j.ilat_tile_src, j.sg->lat_start + y * j.sg->dlat);
            if (r >= 0) rows[k] = r * j.sg->nlon_per_tile * ss;
        }
        for (long k = 0; k < ncols; k++) {
            long x = j.ilon - j.dec0 + k;
            long c = orvex_pixel_col(j.s, j.sg, j.ilon_tile_src, j.sg->lon_start + x * j.sg->dlon);
            cols[k] = c >= 0 ? c * ss : -1;
        }
        return 0;
    }

    // The window rows of output row r that hold samples; returns their count.
    long live_rows(long r, long dec)
    {
        long n = 0;
        for (long k = 0; k < wlen; k++)
            if (rows[r * dec + k] >= 0) live[n++] = rows[r * dec + k];
        return n;
    }
};

template <bool Swap>
inline int read_elevation(const unsigned char *p)
{
    return Swap ? static_cast<short>((p[0] << 8) | p[1]) : static_cast<short>(p[0] | (p[1] << 8));
}

template <bool Swap>
int sample_elevation(TileJob &j, WindowTables &w, PayloadSink &sink)
{
    const long nrows = j.dg->nlat_per_tile, ncols = j.dg->nlon_per_tile;
    for (long r = 0; r < nrows; r++) {
        long nlive = w.live_rows(r, j.dec);
        for (long c = 0; c < ncols; c++) {
            const long *cols = w.cols + c * j.dec;
            int best = ORVEX_NODATA;
            bool found = false;
            for (long i = 0; i < nlive; i++) {
                const unsigned char *row = j.src + w.live[i];
                for (long k = 0; k < w.wlen; k++) {
                    if (cols[k] < 0) continue;
                    int v = read_elevation<Swap>(row + cols[k]);
                    if (v == ORVEX_NODATA) continue;
                    if (best == ORVEX_NODATA || v > best) best = v;
                    found = true;
                }
            }
            if (found) {
                if (j.zmin == ORVEX_NODATA || j.zmin > best) j.zmin = best;
                if (j.zmax == ORVEX_NODATA || j.zmax < best) j.zmax = best;
            }
            short out = static_cast<short>(best);
            memcpy(sink.tail(), &out, 2);  // host order, little-endian
            if (sink.commit(2) < 0) return -1;
        }
    }
    return 0;
}

// Moves the colour's lightness toward `lightmin` and applies `gamma`,
// keeping each channel's offset from the middle value.
void adjust_colour(long rgb[3], double gamma, double lightmin)
{
    long mn = rgb[0], mx = rgb[0];
    for (int i = 1; i < 3; i++) {
        if (rgb[i] < mn) mn = rgb[i];
        if (rgb[i] > mx) mx = rgb[i];
    }
    long mave = (mx + mn) / 2;
    double lit = 0.5 * (mx + mn) / 255.0;
    if (gamma > 0) lit = pow(lit, gamma);
    lit = lightmin + (1.0 - lightmin) * lit;
    double middle = 255.0 * lit;
    // A NaN lightness keeps the middle value; others are bounded before the
    // conversion, which cannot change the clamped channels.
    long mid = isnan(middle) ? mave : static_cast<long>(fmax(-1024.0, fmin(1024.0, middle)));
    for (int i = 0; i < 3; i++) {
        long v = rgb[i] - mave + mid;
        rgb[i] = v < 0 ? 0 : v > 255 ? 255 : v;
    }
}

int sample_colour(TileJob &j, WindowTables &w, PayloadSink &sink, double gamma, double lightmin)
{
    const bool adjust = !(lightmin == 0.0 && gamma == 1.0);
    const long nrows = j.dg->nlat_per_tile, ncols = j.dg->nlon_per_tile;
    for (long r = 0; r < nrows; r++) {
        long nlive = w.live_rows(r, j.dec);
        for (long c = 0; c < ncols; c++) {
            const long *cols = w.cols + c * j.dec;
            long sum[3] = {0, 0, 0}, count = 0;
            for (long i = 0; i < nlive; i++) {
                const unsigned char *row = j.src + w.live[i];
                for (long k = 0; k < w.wlen; k++) {
                    if (cols[k] < 0) continue;
                    const unsigned char *p = row + cols[k];
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                    count++;
                }
            }
            // A window that finds no sample is black, without adjustment.
            long rgb[3] = {0, 0, 0};
            if (count > 0) {
                for (int i = 0; i < 3; i++) rgb[i] = sum[i] / count;
                if (adjust) adjust_colour(rgb, gamma, lightmin);
            }
            unsigned char *out = sink.tail();
            for (int i = 0; i < 3; i++) out[i] = static_cast<unsigned char>(rgb[i]);
            if (sink.commit(3) < 0) return -1;
        }
    }
    return 0;
}

// Preparation up to the source samples: registry, ranges, geometry.
int prepare(Orvex *o, int output_resolution, int output_tile, TileJob *j)
{
    if (o->fd == -1) return fail(0, "first need to open output file with setOutput()");
    char key[32];
    snprintf(key, sizeof key, "%d", output_resolution);
    Tbl *list = static_cast<Tbl *>(getarr(o->src_arr, key));
    OrvexInput *in = list ? static_cast<OrvexInput *>(gettbl(list, 0)) : nullptr;
    if (!in || !in->input) return fail(0, "Cannot find input for this output resolution");
    if (output_resolution < 0 || output_resolution >= o->frame.nresolutions)
        return fail(0, "output resolution out of range");
    Orvex *input = in->input;
    if (in->resolution < 0 || in->resolution >= input->frame.nresolutions)
        return fail(0, "registered input resolution out of range");
    j->s = &input->frame.resolutions[in->resolution];
    if (j->s->map_type != ORVEX_MAP_GRID || !j->s->data) return fail(0, "input map type must be grid");
    OrvexResolution &d = o->frame.resolutions[output_resolution];
    if (d.map_type != ORVEX_MAP_GRID || !d.data) return fail(0, "output map type must be grid");
    if (output_tile < 0 || output_tile >= d.ntiles) return fail(0, "output tile out of range");
    if (in->tile < 0 || in->tile >= j->s->ntiles) return fail(0, "registered input tile out of range");

    j->sg = static_cast<OrvexGrid *>(j->s->data);
    j->dg = static_cast<OrvexGrid *>(d.data);
    j->entry = &j->dg->tiles[output_tile];
    j->dec = j->dg->decimation_factor;
    if (j->dec < 1) return fail(0, "decimation factor must be at least 1");
    long ilat_tile = output_tile / d.nlon_tiles;
    long ilon_tile = output_tile - ilat_tile * d.nlon_tiles;
    j->nlat = j->dg->nlat_per_tile * j->dec;
    j->nlon = j->dg->nlon_per_tile * j->dec;
    j->ilat = ilat_tile * j->nlat;
    j->ilon = ilon_tile * j->nlon;
    if (j->sg->nlon % j->dec != 0)
        return fail(0, "decimation factor must be integer multiple of source width");
    if (j->sg->nlat % j->dec != 0)
        return fail(0, "decimation factor must be integer multiple of source height");

    unsigned char *src = nullptr;
    if (input->getTileGrid(in->resolution, in->tile, &src) < 0) return fail(0, "getTileGrid() error");
    j->src = src;
    // The window reaches dec0 samples back and dec1 - 1 forward.
    j->dec0 = j->dec % 2 ? j->dec / 2 : (j->dec + 1) / 2;
    j->dec1 = j->dec % 2 ? j->dec / 2 + 1 : j->dec0 + 1;
    j->ilat_tile_src = in->tile / j->s->nlon_tiles;
    j->ilon_tile_src = in->tile - j->ilat_tile_src * j->s->nlon_tiles;
    j->swap = j->s->data_type == ORVEX_DATA_DEMB;
    return 0;
}

// Points the index entry at the payload's start, the current end of file.
int mark_payload_start(Orvex *o, const TileJob &j)
{
    long s0 = orvex_tell(o->fd);
    if (s0 < 0) return fail(1, "lseek() error.");
    long buf_field = reinterpret_cast<long>(j.entry->buf);
    if (buf_field > s0)
        return fail(1, "internal offset error probably caused by repeated attempt to write into "
                       "same tile.");
    int rc = orvex_write_at(o->fd, buf_field, &s0, sizeof s0);
    if (rc == ORVEX_IO_SEEK) return fail(1, "lseek() error.");
    if (rc != ORVEX_IO_OK) return fail(1, "write() error.");
    OrvexPrivate::payloadWritten(o) = 1;
    return 0;
}

// Stores the payload's size and elevation range in the index entry, in
// that order, and returns to the end of the payload.
int complete_entry(Orvex *o, const TileJob &j, unsigned long nbuf)
{
    const long fields[3] = {static_cast<long>(j.entry->nbuf), j.entry->zmin, j.entry->zmax};
    const long values[3] = {static_cast<long>(nbuf), j.zmin, j.zmax};
    for (int i = 0; i < 3; i++) {
        int rc = orvex_write_at(o->fd, fields[i], &values[i], sizeof values[i]);
        if (rc == ORVEX_IO_SEEK) return fail(1, "lseek() error.");
        if (rc != ORVEX_IO_OK) return fail(1, "write() error.");
    }
    return 0;
}

}  // namespace

int Orvex::writeTileDataGrid(int output_resolution, int output_tile, double gamma, double lightmin)
{
    TileJob job;
    if (prepare(this, output_resolution, output_tile, &job) < 0) return -1;
    WindowTables windows;
    if (windows.build(job) < 0) return -1;
    PayloadSink sink(fd, job.dg->compressed != 0);
    if (sink.open() < 0) return -1;
    if (mark_payload_start(this, job) < 0) return -1;

    int rc;
    if (job.dg->content == 1)
        rc = job.swap ? sample_elevation<true>(job, windows, sink)
                      : sample_elevation<false>(job, windows, sink);
    else
        rc = sample_colour(job, windows, sink, gamma, lightmin);
    if (rc < 0 || sink.finish() < 0) return -1;
    return complete_entry(this, job, sink.payload_bytes());
}

int Orvex::writeDataGrid(double gamma, double lightmin)
{
    for (int r = 0; r < frame.nresolutions; r++) {
        for (long t = 0; t < frame.resolutions[r].ntiles; t++) {
            if (writeTileDataGrid(r, static_cast<int>(t), gamma, lightmin) < 0) {
                orvex_register_error(1, "Orvex::writeData: writeTileDataGrid() error.\n");
                return -1;
            }
        }
    }
    return 0;
}
