#include "grid_terrain.h"

#include <math.h>
#include <stdio.h>

#include <stdexcept>

namespace {

// A small deterministic generator, so that every run sees the same grids.
struct Lcg {
    uint64_t s;
    explicit Lcg(unsigned salt) : s(salt * 2654435761u + 1) {}
    uint32_t next()
    {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(s >> 33);
    }
};

}  // namespace

std::vector<int16_t> grid_terrain(long nlat, long nlon, unsigned salt)
{
    std::vector<int16_t> z(static_cast<size_t>(nlat * nlon));
    Lcg rng(salt);
    double p1 = rng.next() % 1000 / 100.0, p2 = rng.next() % 1000 / 100.0;
    for (long r = 0; r < nlat; r++) {
        double y = static_cast<double>(r) / nlat;
        for (long c = 0; c < nlon; c++) {
            double x = static_cast<double>(c) / nlon;
            // Continents: a smooth field whose negative half is sea.
            double land = sin(6.283 * (2 * x) + p1) * cos(6.283 * (1.5 * y) + p2) +
                          0.4 * sin(6.283 * (7 * x + 5 * y) + p2);
            long v;
            if (land < 0) {
                v = -9999;
            } else {
                double ridge = fabs(sin(6.283 * (23 * x - 17 * y) + p1));
                v = static_cast<long>(land * 1800 + ridge * 900) + static_cast<long>(rng.next() % 40);
            }
            z[static_cast<size_t>(r * nlon + c)] = static_cast<int16_t>(v);
        }
    }
    return z;
}

std::vector<uint8_t> grid_colours(long nlat, long nlon, unsigned salt)
{
    std::vector<uint8_t> px(static_cast<size_t>(nlat * nlon * 3));
    Lcg rng(salt);
    for (size_t i = 0; i < px.size(); i++) px[i] = static_cast<uint8_t>(rng.next() >> 7);
    return px;
}

void grid_write_bytes(const std::string &path, const void *data, size_t n)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path);
    size_t w = n ? fwrite(data, 1, n, f) : 0;
    fclose(f);
    if (w != n) throw std::runtime_error("cannot write " + path);
}

void grid_write_pf(const std::string &data_path, const std::string &text)
{
    grid_write_bytes(data_path + ".pf", text.data(), text.size());
}

std::vector<uint8_t> grid_read_file(const std::string &path)
{
    std::vector<uint8_t> bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    return bytes;
}

namespace {

std::string geometry_text(long nlat, long nlon, double lat, double dlat, double lon, double dlon)
{
    char text[512];
    snprintf(text, sizeof text, "lat %.17g\ndlat %.17g\nlon %.17g\ndlon %.17g\nnlat %ld\nnlon %ld\n",
             lat, dlat, lon, dlon, nlat, nlon);
    return text;
}

}  // namespace

void grid_write_dem(const std::string &path, const std::vector<int16_t> &samples, long nlat,
                    long nlon, double lat, double dlat, double lon, double dlon, bool bigendian)
{
    std::vector<uint8_t> bytes(samples.size() * 2);
    for (size_t i = 0; i < samples.size(); i++) {
        uint16_t v = static_cast<uint16_t>(samples[i]);
        bytes[2 * i + (bigendian ? 1 : 0)] = static_cast<uint8_t>(v & 0xff);
        bytes[2 * i + (bigendian ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
    }
    grid_write_bytes(path, bytes.data(), bytes.size());
    std::string text = geometry_text(nlat, nlon, lat, dlat, lon, dlon);
    if (bigendian) text += "bigendian yes\n";
    grid_write_pf(path, text);
}

void grid_write_rgb(const std::string &path, const std::vector<uint8_t> &pixels, long nlat,
                    long nlon, double lat, double dlat, double lon, double dlon)
{
    grid_write_bytes(path, pixels.data(), pixels.size());
    grid_write_pf(path, geometry_text(nlat, nlon, lat, dlat, lon, dlon));
}
