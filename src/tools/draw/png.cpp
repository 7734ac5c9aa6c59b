// PNG output, made here rather than through a general PNG library: the
// whole image is filtered row by row into one buffer and deflated in one
// call (libdeflate where the build has it, else zlib). An image of at most
// 256 colours is written with a palette, which loses nothing; others as
// RGB, each row with the filter whose output bytes are smallest in sum.
// Pictures to look at (web tiles) may instead take a reduced palette of
// 256 colours where no pixel moves far (colour_reduce.cpp).
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>

#include <string>
#include <vector>

#ifdef ORVEX_DRAW_LIBDEFLATE
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

#include "draw.h"

namespace orvexcli {

namespace {

void put32(std::string *out, unsigned long v)
{
    for (int s = 24; s >= 0; s -= 8) out->push_back(static_cast<char>((v >> s) & 0xff));
}

unsigned long crc_of(const std::string &s, size_t from)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s.data()) + from;
#ifdef ORVEX_DRAW_LIBDEFLATE
    return libdeflate_crc32(0, p, s.size() - from);
#else
    return crc32(crc32(0, nullptr, 0), p, static_cast<uInt>(s.size() - from));
#endif
}

void chunk(std::string *out, const char *type, const std::string &data)
{
    put32(out, data.size());
    size_t start = out->size();
    out->append(type, 4);
    out->append(data);
    put32(out, crc_of(*out, start));
}

/* The zlib stream of `raw`; false when deflating fails. */
bool deflated(const std::vector<unsigned char> &raw, int level, std::string *out)
{
#ifdef ORVEX_DRAW_LIBDEFLATE
    /* A compressor holds large tables: one per thread and level, kept. */
    struct Kept {
        libdeflate_compressor *c = nullptr;
        int level = 0;
        ~Kept() { libdeflate_free_compressor(c); }
    };
    thread_local Kept kept;
    level = level < 1 ? 6 : (level > 12 ? 12 : level);
    if (!kept.c || kept.level != level) {
        libdeflate_free_compressor(kept.c);
        kept.c = libdeflate_alloc_compressor(level);
        kept.level = level;
    }
    if (!kept.c) return false;
    out->resize(libdeflate_zlib_compress_bound(kept.c, raw.size()));
    size_t n = libdeflate_zlib_compress(kept.c, raw.data(), raw.size(), &(*out)[0], out->size());
#else
    uLongf n = compressBound(raw.size());
    out->resize(n);
    if (compress2(reinterpret_cast<Bytef *>(&(*out)[0]), &n, raw.data(), raw.size(),
                  level < 1 ? 6 : (level > 9 ? 9 : level)) != Z_OK)
        n = 0;
#endif
    out->resize(n);
    return n > 0;
}

unsigned char paeth(int a, int b, int c)
{
    int p = a + b - c, pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
    return static_cast<unsigned char>(pa <= pb && pa <= pc ? a : (pb <= pc ? b : c));
}

/* Row of n bytes filtered with PNG filter f; `prior` is the row above
 * (zeros for the first). */
template <int F>
inline int residual(const unsigned char *row, const unsigned char *prior, size_t k, size_t bpp)
{
    int a = k >= bpp ? row[k - bpp] : 0, b = prior[k], c = k >= bpp ? prior[k - bpp] : 0;
    int pred = F == 1 ? a : F == 2 ? b : F == 3 ? (a + b) / 2 : F == 4 ? paeth(a, b, c) : 0;
    return static_cast<signed char>(static_cast<unsigned char>(row[k] - pred));
}

/* Sum of the filter's output bytes read as signed, one simple loop a
 * filter so that the compiler runs it over whole vectors. */
template <int F>
unsigned long filter_cost(const unsigned char *row, const unsigned char *prior, size_t n, size_t bpp)
{
    unsigned long sum = 0;
    for (size_t k = 0; k < bpp && k < n; k++) sum += static_cast<unsigned long>(abs(residual<F>(row, prior, k, bpp)));
    for (size_t k = bpp; k < n; k++) {
        int a = row[k - bpp], b = prior[k], c = prior[k - bpp], pred;
        if (F == 4) {
            int p = a + b - c, pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
            pred = pa <= pb && pa <= pc ? a : (pb <= pc ? b : c);
        } else {
            pred = F == 1 ? a : F == 2 ? b : F == 3 ? (a + b) >> 1 : 0;
        }
        sum += static_cast<unsigned long>(abs(static_cast<signed char>(static_cast<unsigned char>(row[k] - pred))));
    }
    return sum;
}

/* The filter whose output bytes, read as signed, sum smallest. */
int best_filter(const unsigned char *row, const unsigned char *prior, size_t n, size_t bpp)
{
    const unsigned long sum[5] = {filter_cost<0>(row, prior, n, bpp), filter_cost<1>(row, prior, n, bpp),
                                  filter_cost<2>(row, prior, n, bpp), filter_cost<3>(row, prior, n, bpp),
                                  filter_cost<4>(row, prior, n, bpp)};
    int best = 0;
    for (int f = 1; f < 5; f++)
        if (sum[f] < sum[best]) best = f;
    return best;
}

template <int F>
void filter_into(const unsigned char *row, const unsigned char *prior, size_t n, size_t bpp, unsigned char *out)
{
    for (size_t k = 0; k < n; k++) out[k] = static_cast<unsigned char>(residual<F>(row, prior, k, bpp));
}

/* Rows of `bpp`-byte pixels, each with a filter byte in front: none for a
 * palette, else the filter whose output is smallest. */
void filter_rows(const unsigned char *pixels, long width, long height, int bpp, std::vector<unsigned char> *out)
{
    size_t n = static_cast<size_t>(width) * static_cast<size_t>(bpp), b = static_cast<size_t>(bpp);
    std::vector<unsigned char> zeros(n, 0);
    out->resize((n + 1) * static_cast<size_t>(height));
    for (long j = 0; j < height; j++) {
        const unsigned char *row = pixels + static_cast<size_t>(j) * n;
        const unsigned char *prior = j > 0 ? row - n : zeros.data();
        unsigned char *o = &(*out)[static_cast<size_t>(j) * (n + 1)];
        int f = bpp == 1 ? 0 : best_filter(row, prior, n, b);
        o[0] = static_cast<unsigned char>(f);
        switch (f) {
        case 1: filter_into<1>(row, prior, n, b, o + 1); break;
        case 2: filter_into<2>(row, prior, n, b, o + 1); break;
        case 3: filter_into<3>(row, prior, n, b, o + 1); break;
        case 4: filter_into<4>(row, prior, n, b, o + 1); break;
        default: filter_into<0>(row, prior, n, b, o + 1); break;
        }
    }
}

/* The image's colours as palette indices, or false when it has more than
 * 256. */
bool palette_of(const orvextool::Image &image, std::string *plte, std::vector<unsigned char> *indices)
{
    const size_t slots = 1024;
    std::vector<long> key(slots, -1);
    std::vector<unsigned char> index(slots);
    int colours = 0;
    indices->resize(image.pixels.size());
    for (size_t k = 0; k < image.pixels.size(); k++) {
        const orvextool::Rgb &c = image.pixels[k];
        long v = c.r << 16 | c.g << 8 | c.b;
        size_t h = static_cast<size_t>(v * 2654435761UL) % slots;
        while (key[h] >= 0 && key[h] != v) h = (h + 1) % slots;
        if (key[h] < 0) {
            if (colours == 256) return false;
            key[h] = v;
            index[h] = static_cast<unsigned char>(colours++);
            plte->push_back(static_cast<char>(c.r));
            plte->push_back(static_cast<char>(c.g));
            plte->push_back(static_cast<char>(c.b));
        }
        (*indices)[k] = index[h];
    }
    return true;
}

}  // namespace

namespace {

/* The PNG of `image`, as palette indices with `plte` when `indexed`, else
 * as RGB. */
int assemble(const orvextool::Image &image, bool indexed, const std::string &plte,
             const std::vector<unsigned char> &indices, int level, std::string *out)
{
    static_assert(sizeof(orvextool::Rgb) == 3, "pixels are packed RGB");
    thread_local std::vector<unsigned char> rows;
    const unsigned char *pixels =
        indexed ? indices.data() : reinterpret_cast<const unsigned char *>(image.pixels.data());
    filter_rows(pixels, image.width, image.height, indexed ? 1 : 3, &rows);
    std::string idat;
    if (!deflated(rows, level, &idat)) return -1;
    out->assign("\x89PNG\r\n\x1a\n", 8);
    std::string ihdr;
    put32(&ihdr, static_cast<unsigned long>(image.width));
    put32(&ihdr, static_cast<unsigned long>(image.height));
    ihdr += std::string("\x08", 1);                        /* bit depth */
    ihdr += std::string(indexed ? "\x03" : "\x02", 1);     /* palette or RGB */
    ihdr += std::string("\x00\x00\x00", 3);                /* deflate, adaptive filters, no interlace */
    chunk(out, "IHDR", ihdr);
    if (indexed) chunk(out, "PLTE", plte);
    chunk(out, "IDAT", idat);
    chunk(out, "IEND", "");
    return 0;
}

bool valid_size(const orvextool::Image &image)
{
    return image.width >= 1 && image.height >= 1 && image.width <= 0x7fffffffL && image.height <= 0x7fffffffL &&
           image.pixels.size() == static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
}

}  // namespace

int encode_png(const orvextool::Image &image, int level, std::string *out)
{
    out->clear();
    if (!valid_size(image)) return -1;
    /* Kept from picture to picture, so that a thread making tile after
     * tile reuses their memory. */
    thread_local std::vector<unsigned char> indices;
    std::string plte;
    bool indexed = palette_of(image, &plte, &indices);
    return assemble(image, indexed, plte, indices, level, out);
}

int encode_picture_png(const orvextool::Image &image, int level, int max_error, int merge, std::string *out,
                       PaletteError *error)
{
    out->clear();
    PaletteError none;
    if (!error) error = &none;
    *error = PaletteError();
    if (!valid_size(image)) return -1;
    thread_local std::vector<unsigned char> indices;
    std::string plte;
    bool indexed = palette_of(image, &plte, &indices);
    if (!indexed) {
        reduce_colours(image, &plte, &indices, error);
        indexed = error->max <= max_error;
        if (!indexed) *error = PaletteError();
    }
    if (indexed && merge > 0) {
        merge_close_colours(&plte, &indices, merge);
        /* Measured only for a caller who asks. */
        if (error != &none) *error = palette_error(image, plte, indices);
    }
    return assemble(image, indexed, plte, indices, level, out);
}

int write_png(const orvextool::Image &image, const std::string &path, std::string *why)
{
    std::string png;
    if (encode_png(image, 9, &png) != 0) {
        *why = "cannot encode the image as PNG";
        return -1;
    }
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) {
        *why = "cannot create '" + path + "': " + strerror(errno);
        return -1;
    }
    bool ok = fwrite(png.data(), 1, png.size(), file) == png.size();
    if (fclose(file) != 0) ok = false;
    if (!ok) {
        *why = "cannot write PNG '" + path + "'";
        remove(path.c_str());
        return -1;
    }
    return 0;
}

}  // namespace orvexcli
