// orvex check MAP: verifies a map file thoroughly. Every header is
// consistent, every payload and point array lies in the file after the
// headers without overlapping another, every grid tile inflates to exactly
// its size with the elevation range its index entry records, and every
// point lies within its segment's box. A compressed stream that ends
// cleanly before its tile is full is a warning, not a problem: readers
// take it and fill the rest of the tile with zeros, so the map reads the
// same everywhere; the zeros then count in the tile's elevation range.
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "commands.h"
#include "common.h"

namespace orvexcli {

namespace {

const char kHelp[] =
    "Usage: orvex check MAP\n"
    "\n"
    "Verifies a map file: header counts and sizes, every tile offset and length\n"
    "within the file, every compressed tile inflating to exactly its size, the\n"
    "elevation range of every tile, every vector point within its segment's box.\n"
    "Prints each problem found; exits with status 1 when there is any. A tile\n"
    "whose stream ends early (readers fill the rest with zeros) is a warning\n"
    "and leaves the status 0.\n";

const long kShownPerResolution = 20;
/* Compressed tiles are inflated a piece of this many bytes at a time, so
 * that a tile of any size is checked in little memory. */
const size_t kPiece = 1 << 20;

/* The elevation range of little-endian samples handed over in pieces of
 * any length (a sample may straddle two). */
struct Range {
    long zmin = ORVEX_NODATA, zmax = ORVEX_NODATA;
    int carry = -1; /* the first byte of a straddling sample */

    void add(const unsigned char *p, size_t n)
    {
        size_t k = 0;
        if (carry >= 0 && n > 0) {
            take(static_cast<short>(carry | p[0] << 8));
            carry = -1;
            k = 1;
        }
        for (; k + 1 < n; k += 2) take(static_cast<short>(p[k] | p[k + 1] << 8));
        if (k < n) carry = p[k];
    }
    /* n zero bytes, as a reader fills the end of a short tile. */
    void add_zeros(unsigned long n)
    {
        if (n > 0 && carry >= 0) {
            take(carry);
            carry = -1;
            n--;
        }
        if (n >= 2) take(0);
        if (n % 2) carry = 0;
    }
    void take(long z)
    {
        if (z == ORVEX_NODATA) return;
        if (zmin == ORVEX_NODATA || z < zmin) zmin = z;
        if (zmax == ORVEX_NODATA || z > zmax) zmax = z;
    }
};

struct Span {
    unsigned long start, length;
    std::string what;
};

class Checker {
public:
    explicit Checker(Orvex &map) : map_(map) {}
    long run();
    long warnings() const { return warnings_; }

private:
    void problem(long res, const std::string &text);
    void warning(long res, const std::string &text);
    void show(long res, const std::string &text);
    void check_span(long res, const std::string &what, const void *p, unsigned long length);
    void check_grid(long res, const OrvexResolution &r, const OrvexGrid &g);
    void check_grid_tile(long res, const OrvexGrid &g, long t);
    bool inflate_tile(const OrvexGridTile &tile, unsigned long expected, Range *range, unsigned long *got);
    void check_vector(long res, const OrvexResolution &r, const OrvexVector &v);
    void check_segment(long res, long t, long s, const OrvexVectorSegment &seg);
    void check_overlaps();
    unsigned long headers_end() const;

    Orvex &map_;
    long problems_ = 0, warnings_ = 0;
    std::vector<long> shown_;
    std::vector<Span> spans_;
    unsigned long headers_end_ = 0;
    std::vector<unsigned char> piece_;
};

/* a × b == want, without overflowing on damaged counts. */
bool product_is(long a, long b, long want)
{
    long p = 0;
    return !__builtin_mul_overflow(a, b, &p) && p == want;
}

void Checker::problem(long res, const std::string &text)
{
    problems_++;
    show(res, text);
}

void Checker::warning(long res, const std::string &text)
{
    warnings_++;
    show(res, "warning: " + text);
}

void Checker::show(long res, const std::string &text)
{
    size_t k = res < 0 ? 0 : static_cast<size_t>(res) + 1;
    if (shown_.size() <= k) shown_.resize(k + 1, 0);
    if (shown_[k]++ < kShownPerResolution) {
        if (res >= 0) printf("resolution %ld: %s\n", res, text.c_str());
        else printf("%s\n", text.c_str());
    } else if (shown_[k] == kShownPerResolution + 1)
        printf("resolution %ld: further problems not shown\n", res);
}

void Checker::check_span(long res, const std::string &what, const void *p, unsigned long length)
{
    const unsigned char *base = map_.file_stream;
    const unsigned char *q = static_cast<const unsigned char *>(p);
    unsigned long size = static_cast<unsigned long>(map_.file_size);
    if (length == 0) return;
    if (q < base || static_cast<unsigned long>(q - base) > size || length > size - static_cast<unsigned long>(q - base)) {
        problem(res, what + " lies outside the file");
        return;
    }
    unsigned long start = static_cast<unsigned long>(q - base);
    if (start < headers_end_) problem(res, what + " begins inside the headers, at offset " + std::to_string(start));
    spans_.push_back(Span{start, length, "resolution " + std::to_string(res) + " " + what});
}

unsigned long Checker::headers_end() const
{
    unsigned long end = 16;
    for (long i = 0; i < map_.frame.nresolutions; i++) {
        const OrvexResolution &r = map_.frame.resolutions[i];
        end += 848;
        if (grid_of(r)) end += 104 + 32 * static_cast<unsigned long>(r.ntiles);
        if (const OrvexVector *v = vector_of(r)) {
            end += 32;
            for (long t = 0; t < r.ntiles; t++) end += 48 + 40 * static_cast<unsigned long>(v->tiles[t].nsegments);
        }
    }
    return end;
}

/* Inflates the tile's stream a piece at a time, handing the pieces to
 * the range; *got receives the bytes inflated (stopping once they pass
 * `expected`). True when the stream ends exactly at the payload's end. */
bool Checker::inflate_tile(const OrvexGridTile &tile, unsigned long expected, Range *range, unsigned long *got)
{
    z_stream zs;
    memset(&zs, 0, sizeof zs);
    if (inflateInit(&zs) != Z_OK) return false;
    piece_.resize(kPiece);
    const unsigned char *in = tile.buf;
    unsigned long left = tile.nbuf;
    int rc = Z_OK;
    *got = 0;
    while (rc == Z_OK && *got <= expected) {
        if (zs.avail_in == 0 && left > 0) { /* zlib counts its input in 32 bits */
            uInt n = static_cast<uInt>(std::min(left, 1UL << 30));
            zs.next_in = const_cast<unsigned char *>(in);
            zs.avail_in = n;
            in += n;
            left -= n;
        }
        zs.next_out = piece_.data();
        zs.avail_out = static_cast<uInt>(piece_.size());
        rc = inflate(&zs, Z_NO_FLUSH);
        size_t made = piece_.size() - zs.avail_out;
        *got += made;
        if (*got <= expected) range->add(piece_.data(), made);
        /* No progress: more input is the only way on. */
        if (rc == Z_BUF_ERROR && zs.avail_in == 0 && left > 0) rc = Z_OK;
    }
    bool whole = rc == Z_STREAM_END && zs.avail_in == 0 && left == 0;
    inflateEnd(&zs);
    return whole;
}

void Checker::check_grid_tile(long res, const OrvexGrid &g, long t)
{
    const OrvexGridTile &tile = g.tiles[t];
    std::string name = "tile " + std::to_string(t);
    unsigned long expected = static_cast<unsigned long>(tile_bytes(g));
    if (tile.nbuf == 0) {
        problem(res, name + " was never written");
        return;
    }
    size_t before = spans_.size();
    check_span(res, name + " payload", tile.buf, tile.nbuf);
    if (spans_.size() == before) return; /* outside the file: not read */
    Range range;
    if (g.compressed) {
        unsigned long got = 0;
        bool whole = inflate_tile(tile, expected, &range, &got);
        if (!whole || got > expected) {
            problem(res, name + " does not inflate to its " + std::to_string(expected) + " bytes (got " +
                             std::to_string(got) + ")");
            return;
        }
        if (got < expected) {
            warning(res, name + " inflates to " + std::to_string(got) + " of its " + std::to_string(expected) +
                             " bytes; readers fill the rest with zeros");
            range.add_zeros(expected - got);
        }
    } else if (tile.nbuf != expected) {
        problem(res, name + " holds " + std::to_string(tile.nbuf) + " bytes, expected " + std::to_string(expected));
        return;
    } else if (g.content == 1) {
        range.add(tile.buf, expected); /* read in place */
    }
    if (g.content != 1) {
        if (tile.zmin != ORVEX_NODATA || tile.zmax != ORVEX_NODATA)
            problem(res, name + " is colour but records an elevation range");
        return;
    }
    if (range.zmin != tile.zmin || range.zmax != tile.zmax)
        problem(res, name + " records elevations " + std::to_string(tile.zmin) + " to " + std::to_string(tile.zmax) +
                         " but holds " + std::to_string(range.zmin) + " to " + std::to_string(range.zmax));
}

void Checker::check_grid(long res, const OrvexResolution &r, const OrvexGrid &g)
{
    if (g.nlon_per_tile < 1 || g.nlat_per_tile < 1 || !product_is(g.nlon_per_tile, r.nlon_tiles, g.nlon) ||
        !product_is(g.nlat_per_tile, r.nlat_tiles, g.nlat)) {
        problem(res, "grid of " + std::to_string(g.nlon) + " x " + std::to_string(g.nlat) + " samples does not match " +
                         std::to_string(r.nlon_tiles) + " x " + std::to_string(r.nlat_tiles) + " tiles of " +
                         std::to_string(g.nlon_per_tile) + " x " + std::to_string(g.nlat_per_tile));
        return;
    }
    if (g.content != 0 && g.content != 1) problem(res, "grid content " + std::to_string(g.content) + " is neither colour nor elevation");
    if (tile_bytes(g) < 0) {
        problem(res, "tiles of " + std::to_string(g.nlon_per_tile) + " x " + std::to_string(g.nlat_per_tile) +
                         " samples are larger than any map holds");
        return;
    }
    if (!g.tiles) return;
    for (long t = 0; t < r.ntiles; t++) check_grid_tile(res, g, t);
}

void Checker::check_segment(long res, long t, long s, const OrvexVectorSegment &seg)
{
    std::string name = "tile " + std::to_string(t) + " segment " + std::to_string(s);
    if (seg.npts < 0) {
        problem(res, name + " has a negative point count");
        return;
    }
    if (seg.npts == 0) return;
    size_t before = spans_.size();
    check_span(res, name + " points", seg.pts, static_cast<unsigned long>(seg.npts) * 8);
    if (spans_.size() == before) return;
    long bad = 0, first_bad = -1;
    for (long k = 0; k < seg.npts; k++) {
        OrvexXY p;
        orvex_get_point(&seg, k, &p);
        bool inside = p.lat_microdegrees >= -90000000 && p.lat_microdegrees <= 90000000 &&
                      p.lon_microdegrees >= seg.lonmin && p.lon_microdegrees <= seg.lonmax &&
                      p.lat_microdegrees >= seg.latmin && p.lat_microdegrees <= seg.latmax;
        if (!inside && bad++ == 0) first_bad = k;
    }
    if (bad > 0)
        problem(res, name + ": " + std::to_string(bad) + " of " + std::to_string(seg.npts) +
                         " points lie outside its box or beyond the poles (first: point " + std::to_string(first_bad) + ")");
}

void Checker::check_vector(long res, const OrvexResolution &r, const OrvexVector &v)
{
    if (!v.tiles) return;
    for (long t = 0; t < r.ntiles; t++) {
        const OrvexVectorTile &tile = v.tiles[t];
        for (long s = 0; s < tile.nsegments; s++) check_segment(res, t, s, tile.segments[s]);
    }
}

void Checker::check_overlaps()
{
    std::sort(spans_.begin(), spans_.end(), [](const Span &a, const Span &b) { return a.start < b.start; });
    for (size_t i = 1; i < spans_.size(); i++) {
        const Span &a = spans_[i - 1], &b = spans_[i];
        if (a.start + a.length > b.start) problem(-1, a.what + " overlaps " + b.what);
    }
}

long Checker::run()
{
    headers_end_ = headers_end();
    for (long i = 0; i < map_.frame.nresolutions; i++) {
        const OrvexResolution &r = map_.frame.resolutions[i];
        if (r.nlat_tiles < 1 || r.nlon_tiles < 1 || !product_is(r.nlat_tiles, r.nlon_tiles, r.ntiles)) {
            problem(i, "tile counts " + std::to_string(r.nlat_tiles) + " x " + std::to_string(r.nlon_tiles) +
                           " do not make its " + std::to_string(r.ntiles) + " tiles");
            continue;
        }
        if (const OrvexGrid *g = grid_of(r)) check_grid(i, r, *g);
        else if (const OrvexVector *v = vector_of(r)) check_vector(i, r, *v);
        else problem(i, "map type " + std::to_string(r.map_type) + " is neither grid nor vector");
    }
    check_overlaps();
    return problems_;
}

}  // namespace

int check_command(int argc, char **argv)
{
    if (wants_help(argc, argv)) {
        fputs(kHelp, stdout);
        return 0;
    }
    if (argc != 2) return usage_error("check", "expected exactly one MAP");
    Orvex map;
    if (map.setInput(local_name(argv[1]).c_str(), 0, "orx") != 0)
        return fail_to_open("check", argv[1], std::string("'") + argv[1] + "' is not a readable map file");
    Checker checker(map);
    long problems = checker.run();
    std::string warned = checker.warnings() > 0 ? ", " + count_of(checker.warnings(), "warning") : "";
    if (problems > 0) {
        printf("%s: %s found%s\n", map.fname, count_of(problems, "problem").c_str(), warned.c_str());
        return 1;
    }
    printf("%s: OK, %s verified%s\n", map.fname, count_of(map.frame.nresolutions, "resolution").c_str(),
           warned.c_str());
    return 0;
}

}  // namespace orvexcli
