// A picture's colours reduced to a palette of at most 256 by median cut.
// Colours are counted in cells of 5 bits of red, 6 of green and 5 of blue;
// a box of cells is split at the median pixel along its widest channel
// (first the box of most pixels times squared extent, later the widest),
// until there are 256 boxes or none can be split. Each box's colour is the
// mean of its pixels, and every pixel takes the colour of its box (or, for
// the few cells far from it, the nearest colour): no dithering, so flat
// areas stay flat and deflate well.
//
// Smooth shading and interpolated colours give neighbouring pixels colours
// a level or two apart, which looks flat but leaves deflate little to
// repeat; merging colours within a few levels of a more common one makes
// the open sea and gentle slopes runs of one index.
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>

#include <string>
#include <vector>

#include "draw.h"

namespace orvexcli {

namespace {

const int kBits[3] = {5, 6, 5};
/* Green weighs most and blue least in how far apart colours look; blue
 * is not made too light, the sea being mostly blues. */
const int kWeight[3] = {3, 4, 2};

inline uint32_t cell_of(const orvextool::Rgb &c)
{
    return static_cast<uint32_t>(c.r >> 3) << 11 | static_cast<uint32_t>(c.g >> 2) << 5 | static_cast<uint32_t>(c.b >> 3);
}

/* One occupied cell: its position per channel and the pixels in it. */
struct Cell {
    uint32_t key;
    uint8_t at[3];
    uint32_t n;
    uint64_t sum[3];
};

struct Box {
    size_t begin, end; /* cells [begin, end) */
    uint8_t lo[3], hi[3];
    uint64_t n;
    double widest; /* weighted extent along the widest channel; 0: cannot split */
    double score;  /* pixels times widest squared */
};

void measure(const std::vector<Cell> &cells, Box *b)
{
    b->n = 0;
    for (int c = 0; c < 3; c++) {
        b->lo[c] = 255;
        b->hi[c] = 0;
    }
    for (size_t k = b->begin; k < b->end; k++) {
        const Cell &cell = cells[k];
        b->n += cell.n;
        for (int c = 0; c < 3; c++) {
            if (cell.at[c] < b->lo[c]) b->lo[c] = cell.at[c];
            if (cell.at[c] > b->hi[c]) b->hi[c] = cell.at[c];
        }
    }
    double widest = 0;
    for (int c = 0; c < 3; c++) {
        double extent = static_cast<double>((b->hi[c] - b->lo[c]) << (8 - kBits[c])) * kWeight[c];
        if (extent > widest) widest = extent;
    }
    b->widest = widest;
    b->score = static_cast<double>(b->n) * widest * widest;
}

int widest_channel(const Box &b)
{
    int best = 0;
    long extent = -1;
    for (int c = 0; c < 3; c++) {
        long e = static_cast<long>((b.hi[c] - b.lo[c]) << (8 - kBits[c])) * kWeight[c];
        if (e > extent) {
            extent = e;
            best = c;
        }
    }
    return best;
}

/* Splits *b at the median pixel along its widest channel into *b and
 * *other, both holding cells. */
void split(std::vector<Cell> &cells, Box *b, Box *other)
{
    int c = widest_channel(*b);
    uint64_t count[64] = {0};
    for (size_t k = b->begin; k < b->end; k++) count[cells[k].at[c]] += cells[k].n;
    /* The last value of the lower half: where half the pixels are reached,
     * but below the top so that the upper half is not empty. */
    uint64_t seen = 0;
    int cut = b->lo[c];
    for (int v = b->lo[c]; v < b->hi[c]; v++) {
        seen += count[v];
        cut = v;
        if (2 * seen >= b->n) break;
    }
    size_t mid = b->begin;
    for (size_t k = b->begin; k < b->end; k++)
        if (cells[k].at[c] <= cut) std::swap(cells[k], cells[mid++]);
    *other = Box{mid, b->end, {0, 0, 0}, {0, 0, 0}, 0, 0, 0};
    b->end = mid;
    measure(cells, b);
    measure(cells, other);
}

/* The mean colour of a cell's pixels. */
void mean_of(const Cell &cell, int out[3])
{
    for (int c = 0; c < 3; c++) out[c] = static_cast<int>((cell.sum[c] + cell.n / 2) / cell.n);
}

bool far_from(const Cell &cell, const unsigned char *colour)
{
    const int near = 8;
    int m[3];
    mean_of(cell, m);
    return abs(m[0] - colour[0]) > near || abs(m[1] - colour[1]) > near || abs(m[2] - colour[2]) > near;
}

/* Index of the palette colour nearest the cell's mean, by weighted
 * squared distance. */
unsigned char nearest(const Cell &cell, const std::string &plte)
{
    int m[3];
    mean_of(cell, m);
    const unsigned char *p = reinterpret_cast<const unsigned char *>(plte.data());
    long best = -1;
    size_t at = 0;
    for (size_t k = 0; k < plte.size() / 3; k++) {
        long d = 0;
        for (int c = 0; c < 3; c++) d += static_cast<long>(kWeight[c]) * (m[c] - p[3 * k + c]) * (m[c] - p[3 * k + c]);
        if (best < 0 || d < best) {
            best = d;
            at = k;
        }
    }
    return static_cast<unsigned char>(at);
}

}  // namespace

void reduce_colours(const orvextool::Image &image, std::string *plte, std::vector<unsigned char> *indices,
                    PaletteError *error)
{
    /* Kept from picture to picture: a thread reducing tile after tile
     * reuses them. slot[key] is 1 + the cell's index, 0 while empty. */
    thread_local std::vector<uint32_t> slot(1u << 16, 0);
    thread_local std::vector<Cell> cells;
    cells.clear();
    for (const orvextool::Rgb &p : image.pixels) {
        uint32_t key = cell_of(p);
        uint32_t &s = slot[key];
        if (!s) {
            cells.push_back(Cell{key, {static_cast<uint8_t>(p.r >> 3), static_cast<uint8_t>(p.g >> 2), static_cast<uint8_t>(p.b >> 3)}, 0, {0, 0, 0}});
            s = static_cast<uint32_t>(cells.size());
        }
        Cell &cell = cells[s - 1];
        cell.n++;
        cell.sum[0] += p.r;
        cell.sum[1] += p.g;
        cell.sum[2] += p.b;
    }
    std::vector<Box> boxes;
    boxes.reserve(256);
    if (!cells.empty()) {
        boxes.push_back(Box{0, cells.size(), {0, 0, 0}, {0, 0, 0}, 0, 0, 0});
        measure(cells, &boxes[0]);
    }
    /* The first half of the splits goes where pixels are many and apart,
     * the rest to the widest boxes, which bounds the error of rare colours. */
    const size_t phase = 128;
    while (boxes.size() < 256) {
        size_t best = 0;
        bool by_extent = boxes.size() >= phase;
        for (size_t k = 1; k < boxes.size(); k++)
            if (by_extent ? boxes[k].widest > boxes[best].widest : boxes[k].score > boxes[best].score) best = k;
        if (boxes.empty() || !(boxes[best].widest > 0)) break;
        Box other;
        split(cells, &boxes[best], &other);
        boxes.push_back(other);
    }
    plte->clear();
    thread_local std::vector<unsigned char> cell_index;
    cell_index.resize(cells.size());
    for (size_t k = 0; k < boxes.size(); k++) {
        uint64_t sum[3] = {0, 0, 0};
        for (size_t i = boxes[k].begin; i < boxes[k].end; i++) {
            for (int c = 0; c < 3; c++) sum[c] += cells[i].sum[c];
            cell_index[i] = static_cast<unsigned char>(k);
        }
        for (int c = 0; c < 3; c++) plte->push_back(static_cast<char>((sum[c] + boxes[k].n / 2) / boxes[k].n));
    }
    /* A few cells lie far from their box's mean (rare colours, as of
     * lines, in a box of common ones): they take the nearest colour. */
    for (size_t i = 0; i < cells.size(); i++) {
        const unsigned char *q = reinterpret_cast<const unsigned char *>(plte->data()) + 3 * cell_index[i];
        if (far_from(cells[i], q)) cell_index[i] = nearest(cells[i], *plte);
    }
    /* Cells moved while boxes were split: slots point to them anew. */
    for (size_t i = 0; i < cells.size(); i++) slot[cells[i].key] = static_cast<uint32_t>(i + 1);
    indices->resize(image.pixels.size());
    for (size_t k = 0; k < image.pixels.size(); k++) (*indices)[k] = cell_index[slot[cell_of(image.pixels[k])] - 1];
    for (const Cell &cell : cells) slot[cell.key] = 0;
    *error = palette_error(image, *plte, *indices);
}

PaletteError palette_error(const orvextool::Image &image, const std::string &plte, const std::vector<unsigned char> &indices)
{
    const unsigned char *colour = reinterpret_cast<const unsigned char *>(plte.data());
    int worst = 0;
    uint64_t total = 0;
    for (size_t k = 0; k < image.pixels.size(); k++) {
        const orvextool::Rgb &p = image.pixels[k];
        const unsigned char *q = colour + 3 * indices[k];
        int d[3] = {abs(p.r - q[0]), abs(p.g - q[1]), abs(p.b - q[2])};
        for (int c = 0; c < 3; c++) {
            total += static_cast<uint64_t>(d[c]);
            if (d[c] > worst) worst = d[c];
        }
    }
    PaletteError error;
    error.max = worst;
    error.mean = image.pixels.empty() ? 0 : static_cast<double>(total) / (3.0 * static_cast<double>(image.pixels.size()));
    return error;
}

void merge_close_colours(std::string *plte, std::vector<unsigned char> *indices, int tolerance)
{
    size_t n = plte->size() / 3;
    if (tolerance <= 0 || n < 2) return;
    uint64_t count[256] = {0};
    for (unsigned char i : *indices) count[i]++;
    unsigned char order[256];
    for (size_t k = 0; k < n; k++) order[k] = static_cast<unsigned char>(k);
    std::stable_sort(order, order + n, [&](unsigned char a, unsigned char b) { return count[a] > count[b]; });
    /* Most common first: each colour joins the first kept one within the
     * tolerance on every channel, else is kept itself. */
    const unsigned char *old = reinterpret_cast<const unsigned char *>(plte->data());
    std::string kept;
    unsigned char to[256] = {0};
    for (size_t k = 0; k < n && count[order[k]] > 0; k++) {
        const unsigned char *c = old + 3 * order[k];
        size_t j = 0;
        for (; j < kept.size() / 3; j++) {
            const unsigned char *q = reinterpret_cast<const unsigned char *>(kept.data()) + 3 * j;
            if (abs(c[0] - q[0]) <= tolerance && abs(c[1] - q[1]) <= tolerance && abs(c[2] - q[2]) <= tolerance) break;
        }
        if (j == kept.size() / 3) kept.append(reinterpret_cast<const char *>(c), 3);
        to[order[k]] = static_cast<unsigned char>(j);
    }
    for (unsigned char &i : *indices) i = to[i];
    plte->swap(kept);
}

}  // namespace orvexcli
