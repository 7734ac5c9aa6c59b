// Rings by cells of 5 x 5 degrees: a web tile at zoom 7 looks at the few
// hundred rings of its cells, not at the 150 000 of a detailed shoreline.
#include <math.h>

#include <algorithm>
#include <numeric>

#include "vectors.h"

namespace orvexcli {

struct RingIndex {
    static const int kColumns = 72, kRows = 36;
    static constexpr double kCell = 5.0;
    size_t size = 0;
    std::vector<std::vector<size_t>> cells = std::vector<std::vector<size_t>>(kColumns * kRows);

    /* Cells of longitudes west..east (unwrapped, any turn) and latitudes
     * south..north; false when they are most of the world, where looking
     * at every ring costs less than gathering them. */
    template <class F>
    static bool for_cells(double west, double east, double south, double north, F visit)
    {
        if (!(east >= west) || !(north >= south)) return false;
        long c0 = static_cast<long>(floor(west / kCell)), c1 = static_cast<long>(floor(east / kCell));
        int r0 = std::max(0, static_cast<int>(floor((south + 90) / kCell)));
        int r1 = std::min(kRows - 1, static_cast<int>(floor((north + 90) / kCell)));
        if (r0 > r1) return true; /* no cells: nothing there */
        if (c1 - c0 + 1 >= kColumns / 2) return false;
        for (long c = c0; c <= c1; c++) {
            long column = ((c % kColumns) + kColumns) % kColumns;
            for (int r = r0; r <= r1; r++) visit(static_cast<size_t>(r * kColumns + column));
        }
        return true;
    }
};

void index_rings(std::vector<Ring> *rings)
{
    auto index = std::make_shared<RingIndex>();
    index->size = rings->size();
    for (size_t k = 0; k < rings->size(); k++) {
        Ring &ring = (*rings)[k];
        ring.position = k;
        double west = ring.lonmin, east = ring.lonmax;
        if (east - west >= 360) west = -180, east = 180 - 1e-9;
        /* A ring wider than half the world goes in every column. */
        if (!RingIndex::for_cells(west, east, ring.latmin, ring.latmax, [&](size_t cell) { index->cells[cell].push_back(k); })) {
            int r0 = std::max(0, static_cast<int>(floor((ring.latmin + 90) / RingIndex::kCell)));
            int r1 = std::min(RingIndex::kRows - 1, static_cast<int>(floor((ring.latmax + 90) / RingIndex::kCell)));
            for (int r = r0; r <= r1; r++)
                for (int c = 0; c < RingIndex::kColumns; c++) index->cells[static_cast<size_t>(r * RingIndex::kColumns + c)].push_back(k);
        }
    }
    for (Ring &ring : *rings) ring.index = index;
}

std::vector<size_t> rings_near(const std::vector<Ring> &rings, double west, double east, double south, double north)
{
    std::vector<size_t> out;
    const RingIndex *index = rings.empty() ? nullptr : rings.front().index.get();
    bool indexed = index && index->size == rings.size() && rings.back().index.get() == index &&
                   rings.back().position == rings.size() - 1;
    if (indexed) {
        indexed = RingIndex::for_cells(west, east, south, north, [&](size_t cell) {
            out.insert(out.end(), index->cells[cell].begin(), index->cells[cell].end());
        });
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        /* A ring found where the index put another: the rings were
         * reordered since, and the index says nothing of them. */
        for (size_t k : out) indexed = indexed && rings[k].index.get() == index && rings[k].position == k;
    }
    if (!indexed) {
        out.resize(rings.size());
        std::iota(out.begin(), out.end(), size_t{0});
    }
    return out;
}

}  // namespace orvexcli
