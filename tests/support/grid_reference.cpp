#include "grid_reference.h"

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "tile_codec.h"

namespace {

// Deflating goes through the library's codec (zlib or libdeflate, as
// built), fed the very pieces the literal loop flushes; what is under test
// here is the sampling and the file layout around the streams.
struct Out {
    int fd;
    bool compressed;
    OrvexTileDeflater deflater{emit, this};
    unsigned char inbuf[4196];
    size_t n = 0;
    unsigned long nbuf = 0;

    static int emit(void *self, const unsigned char *p, size_t len)
    {
        return static_cast<Out *>(self)->put(p, len) ? 0 : -1;
    }
    bool put(const void *p, size_t len)
    {
        if (write(fd, p, len) != static_cast<ssize_t>(len)) return false;
        nbuf += len;
        return true;
    }
    bool flush()
    {
        if (n == 0) return true;
        bool ok = compressed ? deflater.put(inbuf, n) == 0 : put(inbuf, n);
        n = 0;
        return ok;
    }
    bool finish()
    {
        if (!flush()) return false;
        return !compressed || deflater.finish() == 0;
    }
};

bool write_long_at(int fd, long position, long value)
{
    long back = lseek(fd, 0, SEEK_CUR);
    if (lseek(fd, position, SEEK_SET) < 0) return false;
    if (write(fd, &value, 8) != 8) return false;
    return lseek(fd, back, SEEK_SET) >= 0;
}

}  // namespace

int grid_reference_write_tile(Orvex *out, int output_resolution, int output_tile, double gamma,
                              double lightmin)
{
    char key[32];
    snprintf(key, sizeof key, "%d", output_resolution);
    Tbl *list = static_cast<Tbl *>(getarr(out->src_arr, key));
    if (!list) return -1;
    OrvexInput *in = static_cast<OrvexInput *>(gettbl(list, 0));
    Orvex *input = in->input;
    OrvexResolution *S = &input->frame.resolutions[in->resolution];
    OrvexGrid *SG = static_cast<OrvexGrid *>(S->data);
    OrvexResolution *D = &out->frame.resolutions[output_resolution];
    OrvexGrid *DG = static_cast<OrvexGrid *>(D->data);
    OrvexGridTile *entry = &DG->tiles[output_tile];
    long dec = DG->decimation_factor;

    long ilat_tile = output_tile / D->nlon_tiles;
    long ilon_tile = output_tile - ilat_tile * D->nlon_tiles;
    long nlat = DG->nlat_per_tile * dec;
    long nlon = DG->nlon_per_tile * dec;
    long ilat = ilat_tile * nlat;
    long ilon = ilon_tile * nlon;

    unsigned char *src;
    if (input->getTileGrid(in->resolution, in->tile, &src) < 0) return -1;

    Out o;
    o.fd = out->fd;
    o.compressed = DG->compressed != 0;
    if (o.compressed && o.deflater.open(0) < 0) return -1;

    long s0 = lseek(out->fd, 0, SEEK_CUR);
    if (!write_long_at(out->fd, reinterpret_cast<long>(entry->buf), s0)) return -1;

    long dec0, dec1;
    if (dec % 2) {
        dec0 = dec / 2;
        dec1 = dec / 2 + 1;
    } else {
        dec0 = (dec + 1) / 2;
        dec1 = dec0 + 1;
    }
    // The source tile's own rows and columns; a tile reaching all the way
    // round repeats every `period` columns.
    long src_nlat = SG->nlat_per_tile, src_nlon = SG->nlon_per_tile;
    long period = 0;
    if (SG->dlon != 0) {
        double per_turn = 360.0 / fabs(SG->dlon);
        long p = static_cast<long>(floor(per_turn + 0.5));
        if (p >= 1 && p <= src_nlon) period = p;
    }
    long zmin = -9999, zmax = -9999;

    for (long row = ilat; row < ilat + nlat; row += dec) {
        for (long col = ilon; col < ilon + nlon; col += dec) {
            long rsum = 0, gsum = 0, bsum = 0, count = 0;
            int elev = -9999;
            for (long y = row - dec0; y < row + dec1; y++) {
                if (y < 0 || y >= src_nlat) continue;
                for (long xx = col - dec0; xx < col + dec1; xx++) {
                    long x = xx;
                    if (period > 0) {
                        while (x < 0) x += period;
                        while (x >= src_nlon) x -= period;
                    }
                    if (x < 0 || x >= src_nlon) continue;
                    long offset = (y * src_nlon + x) * (DG->content == 1 ? 2 : 3);
                    if (DG->content == 1) {
                        short v;
                        if (S->data_type == 3) {
                            unsigned char b[2] = {src[offset + 1], src[offset]};
                            memcpy(&v, b, 2);
                        } else {
                            memcpy(&v, src + offset, 2);
                        }
                        if (v == -9999) continue;
                        if (elev == -9999 || v > elev) elev = v;
                        count++;
                    } else {
                        rsum += src[offset];
                        gsum += src[offset + 1];
                        bsum += src[offset + 2];
                        count++;
                    }
                }
            }
            if (DG->content == 1) {
                short v = static_cast<short>(elev);
                memcpy(o.inbuf + o.n, &v, 2);
                o.n += 2;
                if (count > 0) {
                    if (zmin == -9999 || zmin > elev) zmin = elev;
                    if (zmax == -9999 || zmax < elev) zmax = elev;
                }
            } else {
                long c[3] = {0, 0, 0};
                if (count > 0) {
                    c[0] = rsum / count;
                    c[1] = gsum / count;
                    c[2] = bsum / count;
                    if (!(lightmin == 0.0 && gamma == 1.0)) {
                        long mn = c[0], mx = c[0];
                        for (int i = 1; i < 3; i++) {
                            if (c[i] < mn) mn = c[i];
                            if (c[i] > mx) mx = c[i];
                        }
                        long mave = (mx + mn) / 2;
                        long off[3] = {c[0] - mave, c[1] - mave, c[2] - mave};
                        double lit = 0.5 * (mx + mn) / 255.0;
                        if (gamma > 0) lit = pow(lit, gamma);
                        lit = lightmin + (1 - lightmin) * lit;
                        long mid = static_cast<long>(255 * lit);
                        for (int i = 0; i < 3; i++) {
                            c[i] = off[i] + mid;
                            if (c[i] < 0) c[i] = 0;
                            if (c[i] > 255) c[i] = 255;
                        }
                    }
                }
                for (int i = 0; i < 3; i++) o.inbuf[o.n++] = static_cast<unsigned char>(c[i]);
            }
            if (o.n > 4192 && !o.flush()) return -1;
        }
    }
    if (!o.finish()) return -1;
    if (!write_long_at(out->fd, static_cast<long>(entry->nbuf), static_cast<long>(o.nbuf))) return -1;
    if (!write_long_at(out->fd, entry->zmin, zmin)) return -1;
    if (!write_long_at(out->fd, entry->zmax, zmax)) return -1;
    return 0;
}

int grid_reference_write_all(Orvex *out, double gamma, double lightmin)
{
    for (int r = 0; r < out->frame.nresolutions; r++)
        for (long t = 0; t < out->frame.resolutions[r].ntiles; t++)
            if (grid_reference_write_tile(out, r, static_cast<int>(t), gamma, lightmin) < 0) return -1;
    return 0;
}
