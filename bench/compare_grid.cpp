// The elevation grid of the side-by-side comparison with GDAL: continents of
// smooth terrain in a no-data sea over 60 % of the Earth, the whole world
// from 90 N, 180 W, written row by row as raw little-endian int16 with
//  - OUT.pf     the parameter file the library reads,
//  - OUT.hdr    an ESRI .hdr GDAL reads (nodata -9999), for the link OUT.bil
//               (GDAL looks for the header beside the data file's own name).
// The same salt gives the same bytes on any run.
//
// Usage: compare_grid OUT NLAT NLON SALT   (prints the sea's share)
//
// Terrain: smooth noise on a lattice that wraps round in longitude, summed
// over octaves on a coarse grid (one point every kCoarse samples), then
// interpolated to every sample with two octaves of fine detail. The sea
// level is the coarse field's 60th percentile.

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const long kCoarse = 8;
const double kSeaShare = 0.60;
const int16_t kNoData = -9999;

uint64_t mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// A lattice value in [-1, 1) for octave `oct`, wrapped in x by `period`.
double lattice(uint64_t salt, int oct, long ix, long iy, long period)
{
    ix %= period;
    if (ix < 0) ix += period;
    uint64_t h = mix(salt ^ mix(static_cast<uint64_t>(oct) << 48 ^ mix(static_cast<uint64_t>(ix)) ^
                                (static_cast<uint64_t>(iy) * 0xD6E8FEB86659FD93ULL)));
    return static_cast<double>(h >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

double smooth(double t) { return t * t * (3 - 2 * t); }

// Value noise at (x, y) in lattice cells; `period` cells round the Earth.
double value_noise(uint64_t salt, int oct, double x, double y, long period)
{
    long ix = static_cast<long>(floor(x)), iy = static_cast<long>(floor(y));
    double tx = smooth(x - ix), ty = smooth(y - iy);
    double a = lattice(salt, oct, ix, iy, period), b = lattice(salt, oct, ix + 1, iy, period);
    double c = lattice(salt, oct, ix, iy + 1, period), d = lattice(salt, oct, ix + 1, iy + 1, period);
    return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
}

// Fractal sum of `octaves` octaves from `cells` lattice cells round the
// Earth, each octave twice as fine and half as strong; u, v in [0, 1).
double fractal(uint64_t salt, int first_oct, int octaves, long cells, double u, double v)
{
    double sum = 0, amp = 1;
    for (int o = 0; o < octaves; o++, cells *= 2, amp *= 0.5)
        sum += amp * value_noise(salt, first_oct + o, u * cells, v * cells / 2.0, cells);
    return sum;
}

// Two fields on the coarse grid: the continents (sea below the sea level)
// and the land's elevation where it is land.
struct Coarse {
    long rows, cols;
    std::vector<float> land, height;
    double sea_level = 0;
};

Coarse make_coarse(long nlat, long nlon, uint64_t salt)
{
    Coarse c;
    c.rows = nlat / kCoarse + 2;
    c.cols = nlon / kCoarse + 2;
    c.land.resize(static_cast<size_t>(c.rows * c.cols));
    c.height.resize(c.land.size());
    for (long r = 0; r < c.rows; r++) {
        double v = static_cast<double>(r * kCoarse) / nlat;
        for (long k = 0; k < c.cols; k++) {
            double u = static_cast<double>(k * kCoarse) / nlon;
            size_t i = static_cast<size_t>(r * c.cols + k);
            c.land[i] = static_cast<float>(fractal(salt, 0, 6, 7, u, v));
            double ridges = 1 - fabs(fractal(salt, 10, 5, 40, u, v));
            c.height[i] = static_cast<float>(ridges * ridges);
        }
    }
    std::vector<float> sorted(c.land);
    size_t nth = static_cast<size_t>(kSeaShare * static_cast<double>(sorted.size()));
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(nth), sorted.end());
    c.sea_level = sorted[nth];
    return c;
}

// One row of a coarse field interpolated between its two coarse rows.
void coarse_row(const Coarse &c, const std::vector<float> &field, long row, std::vector<double> &out)
{
    long r0 = row / kCoarse;
    double t = static_cast<double>(row % kCoarse) / kCoarse;
    const float *a = &field[static_cast<size_t>(r0 * c.cols)], *b = a + c.cols;
    for (long k = 0; k < c.cols; k++) out[static_cast<size_t>(k)] = a[k] + (b[k] - a[k]) * t;
}

double along(const std::vector<double> &line, long col)
{
    long k = col / kCoarse;
    double t = static_cast<double>(col % kCoarse) / kCoarse;
    return line[static_cast<size_t>(k)] + (line[static_cast<size_t>(k + 1)] - line[static_cast<size_t>(k)]) * t;
}

// One output row: sea where the continents' field is below the sea level;
// on land a rise from the coast plus ridges, plus fine detail. Returns
// the count of sea samples.
long make_row(const Coarse &c, long row, long nlat, long nlon, uint64_t salt,
              std::vector<double> &land, std::vector<double> &height, std::vector<uint8_t> &bytes)
{
    coarse_row(c, c.land, row, land);
    coarse_row(c, c.height, row, height);
    double v = static_cast<double>(row) / nlat;
    long sea = 0;
    for (long col = 0; col < nlon; col++) {
        double above = along(land, col) - c.sea_level;
        long z = kNoData;
        if (above < 0) {
            sea++;
        } else {
            double u = static_cast<double>(col) / nlon;
            double rise = 1200 * above + along(height, col) * 2500 * sqrt(above < 0.5 ? above * 2 : 1);
            double detail = fractal(salt, 20, 2, nlon / 16, u, v) * (20 + 0.05 * rise);
            z = std::min(8800L, std::max(0L, static_cast<long>(rise + detail)));
        }
        uint16_t w = static_cast<uint16_t>(static_cast<int16_t>(z));
        bytes[static_cast<size_t>(2 * col)] = static_cast<uint8_t>(w & 0xff);
        bytes[static_cast<size_t>(2 * col + 1)] = static_cast<uint8_t>(w >> 8);
    }
    return sea;
}

bool write_text(const std::string &path, const std::string &text)
{
    FILE *f = fopen(path.c_str(), "w");
    if (!f) return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

// The parameter file, the ESRI header and the link GDAL opens. The header
// places the sample centres where the parameter file places the samples.
bool write_headers(const std::string &out, long nlat, long nlon)
{
    double dlat = -180.0 / nlat, dlon = 360.0 / nlon;
    char pf[512], hdr[512];
    snprintf(pf, sizeof pf, "lat 90\ndlat %.17g\nlon -180\ndlon %.17g\nnlat %ld\nnlon %ld\n", dlat,
             dlon, nlat, nlon);
    snprintf(hdr, sizeof hdr,
             "BYTEORDER I\nLAYOUT BIL\nNROWS %ld\nNCOLS %ld\nNBANDS 1\nNBITS 16\n"
             "PIXELTYPE SIGNEDINT\nULXMAP -180\nULYMAP 90\nXDIM %.17g\nYDIM %.17g\nNODATA -9999\n",
             nlat, nlon, dlon, -dlat);
    std::string base = out.substr(0, out.rfind('.') == std::string::npos ? out.size() : out.rfind('.'));
    std::string target = out.substr(out.rfind('/') == std::string::npos ? 0 : out.rfind('/') + 1);
    unlink((base + ".bil").c_str());
    return write_text(out + ".pf", pf) && write_text(base + ".hdr", hdr) &&
           symlink(target.c_str(), (base + ".bil").c_str()) == 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: %s OUT NLAT NLON SALT\n", argv[0]);
        return 2;
    }
    std::string out = argv[1];
    long nlat = atol(argv[2]), nlon = atol(argv[3]);
    uint64_t salt = strtoull(argv[4], nullptr, 10);
    if (nlat < kCoarse || nlon < kCoarse || out.size() < 5 || out.compare(out.size() - 4, 4, ".dem") != 0) {
        fprintf(stderr, "%s: OUT must end in .dem, NLAT and NLON be at least %ld\n", argv[0], kCoarse);
        return 2;
    }
    Coarse coarse = make_coarse(nlat, nlon, salt);
    FILE *f = fopen(out.c_str(), "wb");
    if (!f) {
        perror(out.c_str());
        return 1;
    }
    std::vector<double> land(static_cast<size_t>(coarse.cols)), height(land.size());
    std::vector<uint8_t> bytes(static_cast<size_t>(2 * nlon));
    bool ok = true;
    long sea = 0;
    for (long row = 0; row < nlat && ok; row++) {
        sea += make_row(coarse, row, nlat, nlon, salt, land, height, bytes);
        ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    }
    if (fclose(f) != 0 || !ok || !write_headers(out, nlat, nlon)) {
        fprintf(stderr, "%s: cannot write %s or its headers\n", argv[0], out.c_str());
        return 1;
    }
    printf("salt %llu, %.1f %% no-data sea\n", static_cast<unsigned long long>(salt),
           100.0 * sea / (static_cast<double>(nlat) * nlon));
    return 0;
}
