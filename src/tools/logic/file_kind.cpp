#include "file_kind.h"

#include <string.h>

namespace orvextool {

namespace {

struct Magic {
    const char *bytes;
    size_t n;
    const char *kind;
};

/* Formats a map maker is likely to hand over by mistake. */
const Magic kMagics[] = {
    {"\x89PNG\r\n\x1a\n", 8, "a PNG image"},
    {"SQLite format 3", 16, "an SQLite database"},
    {"\x00\x00\x27\x0a", 4, "a shapefile (.shp or .shx)"},
    {"\xff\xd8\xff", 3, "a JPEG image"},
    {"GIF8", 4, "a GIF image"},
    {"II*\x00", 4, "a TIFF image"},
    {"MM\x00*", 4, "a TIFF image"},
    {"%PDF", 4, "a PDF document"},
    {"\x1f\x8b", 2, "a gzip-compressed file"},
    {"PK\x03\x04", 4, "a zip archive"},
    {"CDF\x01", 4, "a netCDF file"},
    {"CDF\x02", 4, "a netCDF file"},
    {"\x89HDF\r\n\x1a\n", 8, "an HDF5 file"},
    {"\x7f" "ELF", 4, "an executable program"},
};

long be32(const unsigned char *p)
{
    unsigned long v = (static_cast<unsigned long>(p[0]) << 24) | (static_cast<unsigned long>(p[1]) << 16) |
                      (static_cast<unsigned long>(p[2]) << 8) | p[3];
    return static_cast<long>(static_cast<int>(v));
}

/* A first GSHHS polygon header: id 0, some points, and a box in
 * microdegrees that lies on the Earth. */
bool looks_like_gshhs(const unsigned char *h, size_t n)
{
    if (n < 28) return false;
    long id = be32(h), points = be32(h + 4);
    long west = be32(h + 12), east = be32(h + 16), south = be32(h + 20), north = be32(h + 24);
    return id == 0 && points > 0 && west >= -180000000 && east <= 360000000 && west <= east &&
           south >= -90000000 && north <= 90000000 && south <= north;
}

/* Printable ASCII, white space and the bytes of UTF-8 sequences. */
bool looks_like_text(const unsigned char *h, size_t n)
{
    if (n == 0) return false;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = h[i];
        if (c == '\t' || c == '\n' || c == '\r') continue;
        if (c < 32 || c == 127) return false;
    }
    return true;
}

bool ends_with(const std::string &s, const char *suffix)
{
    size_t k = strlen(suffix);
    return s.size() >= k && s.compare(s.size() - k, k, suffix) == 0;
}

}  // namespace

bool opened_by_library(const std::string &name, const unsigned char *head, size_t n, bool has_pf)
{
    for (const char *suffix : {".orx", ".rgb", ".dem", ".gshhs", ".db"})
        if (ends_with(name, suffix)) return true;
    if (n >= 4 && memcmp(head, "ORX0", 4) == 0) return true;
    if (n >= 16 && memcmp(head, "SQLite format 3", 16) == 0) return true;
    return has_pf;
}

std::string describe_non_map(const unsigned char *head, size_t n, long size, bool has_pf)
{
    if (size == 0) return "an empty file";
    if (n >= 4 && memcmp(head, "ORX0", 4) == 0) return "";
    for (const Magic &m : kMagics)
        if (n >= m.n && memcmp(head, m.bytes, m.n) == 0) return m.kind;
    if (has_pf) return "a raw grid (with its parameter file beside it)";
    if (looks_like_gshhs(head, n)) return "a GSHHS shoreline file";
    if (looks_like_text(head, n)) return "a text file";
    return "";
}

}  // namespace orvextool
