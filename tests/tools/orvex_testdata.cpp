// Writes the small files the command-line tests run on: raw grids with
// their parameter files, a GSHHS file, and a hand-made map file (grid,
// colour and vector resolutions laid out byte by byte), optionally with one
// defect that `orvex check` must find.
//
//   orvex_testdata sources DIR
//   orvex_testdata map FILE [magic|truncate|payload|range|points|overlap|unwritten|huge]
//   orvex_testdata big FILE ROWS COLUMNS
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <string.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

void put(Bytes &b, const void *p, size_t n)
{
    const unsigned char *c = static_cast<const unsigned char *>(p);
    b.insert(b.end(), c, c + n);
}
void put64(Bytes &b, long v) { put(b, &v, 8); }
void putd(Bytes &b, double v) { put(b, &v, 8); }
void put32(Bytes &b, int v) { put(b, &v, 4); }
void put32be(Bytes &b, int v)
{
    unsigned u = static_cast<unsigned>(v);
    unsigned char c[4] = {static_cast<unsigned char>(u >> 24), static_cast<unsigned char>(u >> 16),
                          static_cast<unsigned char>(u >> 8), static_cast<unsigned char>(u)};
    put(b, c, 4);
}
void set64(Bytes &b, size_t at, long v) { memcpy(&b[at], &v, 8); }

bool save(const std::string &path, const Bytes &b)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(b.data(), 1, b.size(), f) == b.size();
    return fclose(f) == 0 && ok;
}

bool save_text(const std::string &path, const std::string &text)
{
    return save(path, Bytes(text.begin(), text.end()));
}

/* Elevation of sample (row, col) of the 8 x 4 test grids: rows from the
 * north, one no-data sample. */
short elevation(int row, int col)
{
    if (row == 3 && col == 7) return -9999;
    return static_cast<short>((row - 1) * 1000 + col * 10);
}

bool write_sources(const std::string &dir)
{
    Bytes dem, rgb;
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 8; c++) {
            short z = elevation(r, c);
            put(dem, &z, 2);
            unsigned char px[3] = {static_cast<unsigned char>(r * 60), static_cast<unsigned char>(c * 30), 200};
            put(rgb, px, 3);
        }
    const char *geometry = "lat 90\nlon -180\nnlat 4\nnlon 8\n";
    bool ok = save(dir + "/tiny.dem", dem) && save(dir + "/tiny.rgb", rgb) &&
              save_text(dir + "/tiny.dem.pf", std::string(geometry) + "dlat -45\ndlon 45\n") &&
              save_text(dir + "/tiny.rgb.pf", std::string(geometry) + "dlat -45\ndlon 45\n") &&
              save_text(dir + "/nogeometry.dem.pf", "lat 90\n") && save(dir + "/nogeometry.dem", dem);
    /* GSHHS, newer header layout (version 7): a land square, a lake in it,
     * and an island that crosses the 180 degree meridian. */
    Bytes g;
    struct Poly {
        int level;
        std::vector<int> xy;
    } polys[] = {
        {1, {-20000000, -20000000, 20000000, -20000000, 20000000, 20000000, -20000000, 20000000}},
        {2, {-5000000, -5000000, 5000000, -5000000, 5000000, 5000000, -5000000, 5000000}},
        {1, {170000000, 40000000, -170000000, 40000000, -170000000, 50000000, 170000000, 50000000}},
    };
    int id = 0;
    for (const Poly &p : polys) {
        int n = static_cast<int>(p.xy.size() / 2);
        int box[4] = {p.xy[0], p.xy[0], p.xy[1], p.xy[1]};
        for (int k = 0; k < n; k++) {
            box[0] = std::min(box[0], p.xy[2 * k]);
            box[1] = std::max(box[1], p.xy[2 * k]);
            box[2] = std::min(box[2], p.xy[2 * k + 1]);
            box[3] = std::max(box[3], p.xy[2 * k + 1]);
        }
        for (int v : {id++, n, p.level | 7 << 8, box[0], box[1], box[2], box[3], 100, 100, -1, -1}) put32be(g, v);
        for (int v : p.xy) put32be(g, v);
    }
    ok = ok && save(dir + "/shore.gshhs", g);
    return ok && save(dir + "/empty.orx", Bytes{'O', 'R', 'X', '0', ' ', ' ', ' ', ' ', 0, 0, 0, 0, 0, 0, 0, 0});
}

Bytes deflated(const Bytes &raw)
{
    uLongf n = compressBound(raw.size());
    Bytes out(n);
    compress(out.data(), &n, raw.data(), raw.size());
    out.resize(n);
    return out;
}

void resolution_record(Bytes &b, const char *name, long map_type, double lon0, double lat0, double dlon_tiles,
                       double dlat_tiles, long nlon_tiles, long nlat_tiles, double dpp)
{
    char fname[512] = "testdata";
    put(b, fname, 512);
    put64(b, map_type == 0 ? 2 : 4);
    put64(b, map_type);
    for (int k = 0; k < 4; k++) putd(b, 0);
    put64(b, 0);
    put64(b, 0);
    put64(b, 0); /* data type of a map file */
    put64(b, map_type);
    char n[128] = {0}, label[64] = "test";
    strncpy(n, name, 127);
    put(b, n, 128);
    put(b, label, 64);
    for (double d : {dpp, lon0, lat0, dlon_tiles, dlat_tiles}) putd(b, d);
    put64(b, nlon_tiles);
    put64(b, nlat_tiles);
    put64(b, nlon_tiles * nlat_tiles);
}

void grid_header(Bytes &b, long compressed, long content, double lon0, double dlon, double lat0, double dlat,
                 long nlon, long nlat, long per_lon, long per_lat)
{
    for (long v : {1L, compressed, content, 0L, 0L}) put64(b, v);
    for (double d : {lon0, dlon, lat0, dlat}) putd(b, d);
    for (long v : {nlon, nlat, per_lon, per_lat}) put64(b, v);
}

struct Segment {
    int level;
    std::vector<int> xy; /* microdegrees, lon lat */
};

bool write_map(const std::string &path, const std::string &defect)
{
    /* Resolution 0: elevation, 2 x 2 tiles of 4 x 2 samples, 45 degrees a
     * sample, deflated. Resolution 1: the same area in colour, one raw tile.
     * Resolution 2: one filled tile with a land square and a lake. */
    Bytes h;
    put(h, "ORX0    ", 8);
    put64(h, 3);
    resolution_record(h, "relief", 0, -180, 90, 180, -90, 2, 2, 45);
    if (defect == "huge") /* tiles of 2^31 x 2^31 samples */
        grid_header(h, 1, 1, -180, 45, 90, -45, 1L << 32, 1L << 32, 1L << 31, 1L << 31);
    else
        grid_header(h, 1, 1, -180, 45, 90, -45, 8, 4, 4, 2);
    size_t entries0 = h.size();
    for (int t = 0; t < 4; t++) for (int k = 0; k < 4; k++) put64(h, 0);
    resolution_record(h, "colour", 0, -180, 90, 360, -180, 1, 1, 45);
    grid_header(h, 0, 0, -180, 45, 90, -45, 8, 4, 8, 4);
    size_t entry1 = h.size();
    for (int k = 0; k < 4; k++) put64(h, 0);
    resolution_record(h, "shore", 1, -180, 90, 360, -180, 1, 1, 10);
    for (double d : {-20.0, 20.0, -20.0, 20.0}) putd(h, d);
    std::vector<Segment> segs = {
        {1, {-20000000, -20000000, 20000000, -20000000, 20000000, 20000000, -20000000, 20000000}},
        {2, {-5000000, -5000000, 5000000, -5000000, 5000000, 5000000, -5000000, 5000000}}};
    for (double d : {-180.0, 180.0, -90.0, 90.0}) putd(h, d);
    put64(h, 1);
    put64(h, static_cast<long>(segs.size()));
    std::vector<size_t> pts_fields;
    for (const Segment &s : segs) {
        put32(h, s.level);
        put32(h, 1);
        for (int v : {-20000000, 20000000, -20000000, 20000000}) put32(h, s.level == 1 ? v : v / 4);
        put64(h, static_cast<long>(s.xy.size() / 2));
        pts_fields.push_back(h.size());
        put64(h, 0);
    }
    /* Payloads. */
    for (int t = 0; t < 4; t++) {
        if (defect == "unwritten" && t == 3) continue;
        Bytes raw;
        long zmin = -9999, zmax = -9999;
        for (int r = 0; r < 2; r++)
            for (int c = 0; c < 4; c++) {
                short z = elevation((t / 2) * 2 + r, (t % 2) * 4 + c);
                put(raw, &z, 2);
                if (z == -9999) continue;
                if (zmin == -9999 || z < zmin) zmin = z;
                if (zmax == -9999 || z > zmax) zmax = z;
            }
        /* A short stream: the first row only, the second read as zeros. */
        if (defect == "short" && t == 1) {
            raw.resize(raw.size() / 2);
            zmax = 0;
        }
        Bytes payload = deflated(raw);
        if (defect == "payload" && t == 1) payload.resize(payload.size() - 6);
        size_t e = entries0 + 32 * static_cast<size_t>(t);
        set64(h, e, zmin);
        set64(h, e + 8, defect == "range" && t == 0 ? zmax + 5 : zmax);
        set64(h, e + 16, static_cast<long>(payload.size()));
        set64(h, e + 24, static_cast<long>(h.size()));
        put(h, payload.data(), payload.size());
    }
    Bytes colour;
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 8; c++) {
            unsigned char px[3] = {static_cast<unsigned char>(r * 60), static_cast<unsigned char>(c * 30), 200};
            put(colour, px, 3);
        }
    set64(h, entry1, -9999);
    set64(h, entry1 + 8, -9999);
    set64(h, entry1 + 16, static_cast<long>(colour.size()));
    set64(h, entry1 + 24, defect == "overlap" ? static_cast<long>(h.size() - 8) : static_cast<long>(h.size()));
    put(h, colour.data(), colour.size());
    for (size_t k = 0; k < segs.size(); k++) {
        set64(h, pts_fields[k], static_cast<long>(h.size()));
        std::vector<int> xy = segs[k].xy;
        if (defect == "points" && k == 1) xy[1] = 60000000;
        for (int v : xy) put32(h, v);
    }
    if (defect == "magic") h[0] = 'X';
    if (defect == "truncate") h.resize(h.size() - 20);
    return save(path, h);
}

/* A map of one raw elevation tile of rows x cols samples, all 0, whose
 * payload is a hole in a sparse file: tiles of many gigabytes that take
 * no room on disk. */
bool write_big(const std::string &path, long rows, long cols)
{
    Bytes h;
    put(h, "ORX0    ", 8);
    put64(h, 1);
    resolution_record(h, "big", 0, -180, 90, 360, -180, 1, 1, 180.0 / rows);
    grid_header(h, 0, 1, -180, 360.0 / cols, 90, -180.0 / rows, cols, rows, cols, rows);
    long bytes = rows * cols * 2;
    for (long v : {0L, 0L, bytes, static_cast<long>(h.size()) + 32}) put64(h, v);
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(h.data(), 1, h.size(), f) == h.size() && fflush(f) == 0 &&
              ftruncate(fileno(f), static_cast<off_t>(h.size()) + bytes) == 0;
    return fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && strcmp(argv[1], "sources") == 0) return write_sources(argv[2]) ? 0 : 1;
    if (argc >= 3 && strcmp(argv[1], "map") == 0) return write_map(argv[2], argc > 3 ? argv[3] : "") ? 0 : 1;
    if (argc == 5 && strcmp(argv[1], "big") == 0) return write_big(argv[2], atol(argv[3]), atol(argv[4])) ? 0 : 1;
    fprintf(stderr, "usage: orvex_testdata sources DIR | map FILE [DEFECT] | big FILE ROWS COLUMNS\n");
    return 2;
}
