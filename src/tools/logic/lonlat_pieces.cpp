#include "lonlat_pieces.h"

#include <math.h>

#include <algorithm>
#include <map>

namespace orvextool {

namespace {

const double kTurn = 360.0;

bool same(const PixelPoint &a, const PixelPoint &b) { return a.x == b.x && a.y == b.y; }

/* Twice the signed area of an open ring: positive when counter-clockwise. */
double twice_area(const LonLatLine &ring)
{
    double sum = 0;
    for (size_t k = 0, n = ring.size(); k < n; k++) {
        const PixelPoint &a = ring[k], &b = ring[(k + 1) % n];
        sum += (a.x - b.x) * (a.y + b.y);
    }
    return sum;
}

/* The ring without repeated points, nor a last point repeating the first. */
LonLatLine without_repeats(const LonLatLine &ring)
{
    LonLatLine out;
    out.reserve(ring.size());
    for (const PixelPoint &p : ring)
        if (out.empty() || !same(out.back(), p)) out.push_back(p);
    while (out.size() > 1 && same(out.front(), out.back())) out.pop_back();
    return out;
}

/* Where the edge a-b meets the meridian x = c (an end lying on it is its
 * own crossing, so that no rounding moves it). */
PixelPoint crossing(const PixelPoint &a, const PixelPoint &b, double c)
{
    if (a.x == c) return a;
    if (b.x == c) return b;
    return PixelPoint{c, a.y + (b.y - a.y) * (c - a.x) / (b.x - a.x)};
}

/* The pieces of a counter-clockwise open ring west of the meridian x = c.
 * Points on the meridian count as outside. The ring is cut into chains,
 * each entering the west side at one crossing and leaving it at another;
 * interior lies north of where a chain leaves (it runs east there, the
 * interior on its left), so each chain is followed, along the meridian, by
 * the chain entering next to the north of where it left. */
std::vector<LonLatLine> west_of(const LonLatLine &ring, double c)
{
    const size_t n = ring.size();
    size_t start = n;
    bool any_inside = false;
    for (size_t k = 0; k < n; k++) {
        if (ring[k].x < c) any_inside = true;
        else if (start == n) start = k;
    }
    if (!any_inside) return {};
    if (start == n) return {ring};
    std::vector<LonLatLine> chains;
    for (size_t step = 1; step <= n; step++) {
        const PixelPoint &a = ring[(start + step - 1) % n], &b = ring[(start + step) % n];
        bool a_in = a.x < c, b_in = b.x < c;
        if (!a_in && b_in) chains.push_back(LonLatLine{crossing(a, b, c)});
        if (a_in) chains.back().push_back(b_in ? b : crossing(a, b, c));
        else if (b_in) chains.back().push_back(b);
    }
    /* Entries by latitude; each exit, from the south, takes the nearest
     * free entry north of it. A ring that is not simple may find none: it
     * then takes any, so that every chain still joins one ring. */
    std::multimap<double, size_t> entries;
    for (size_t k = 0; k < chains.size(); k++) entries.emplace(chains[k].front().y, k);
    std::vector<size_t> by_exit(chains.size()), next(chains.size());
    for (size_t k = 0; k < chains.size(); k++) by_exit[k] = k;
    std::sort(by_exit.begin(), by_exit.end(),
              [&](size_t a, size_t b) { return chains[a].back().y < chains[b].back().y; });
    for (size_t k : by_exit) {
        auto it = entries.lower_bound(chains[k].back().y);
        if (it == entries.end()) it = entries.begin();
        next[k] = it->second;
        entries.erase(it);
    }
    std::vector<LonLatLine> pieces;
    std::vector<char> used(chains.size(), 0);
    for (size_t k = 0; k < chains.size(); k++) {
        LonLatLine piece;
        for (size_t j = k; !used[j]; j = next[j]) {
            used[j] = 1;
            piece.insert(piece.end(), chains[j].begin(), chains[j].end());
        }
        if (!piece.empty()) pieces.push_back(without_repeats(piece));
    }
    return pieces;
}

/* A half turn about the origin: keeps the winding, swaps east and west. */
LonLatLine turned(LonLatLine ring)
{
    for (PixelPoint &p : ring) p = PixelPoint{-p.x, -p.y};
    return ring;
}

/* The pieces east of x = c, as the pieces west of -c of the ring turned. */
std::vector<LonLatLine> east_of(const LonLatLine &ring, double c)
{
    std::vector<LonLatLine> pieces = west_of(turned(ring), -c);
    for (LonLatLine &piece : pieces) piece = turned(piece);
    return pieces;
}

/* The whole turns that bring longitude x within -180..180; a longitude on
 * an odd multiple of 180 stays in the turn `prefer` when that holds it. */
long turn_of(double x, long prefer)
{
    if (fabs(x - prefer * kTurn) <= 180.0) return prefer;
    return static_cast<long>(floor((x + 180.0) / kTurn));
}

PixelPoint turned_back(const PixelPoint &p, long turn)
{
    return PixelPoint{std::max(-180.0, std::min(180.0, p.x - turn * kTurn)), p.y};
}

/* The meridians +-180, +-540... strictly between lo and hi, west to east. */
std::vector<double> cuts_between(double lo, double hi)
{
    std::vector<double> out;
    for (double k = ceil((lo - 180.0) / kTurn); 180.0 + k * kTurn < hi; k++)
        if (180.0 + k * kTurn > lo) out.push_back(180.0 + k * kTurn);
    return out;
}

}  // namespace

std::vector<LonLatLine> ring_pieces(LonLatLine ring)
{
    close_ring_over_pole(&ring);
    ring = without_repeats(ring);
    if (ring.size() < 3) return {};
    double area = twice_area(ring);
    if (area == 0.0 || !isfinite(area)) return {};
    if (area < 0) std::reverse(ring.begin(), ring.end());
    double lo = ring[0].x, hi = ring[0].x;
    for (const PixelPoint &p : ring) lo = std::min(lo, p.x), hi = std::max(hi, p.x);
    std::vector<LonLatLine> pieces{ring};
    for (double c : cuts_between(lo, hi)) {
        std::vector<LonLatLine> cut;
        for (const LonLatLine &piece : pieces) {
            for (LonLatLine &west : west_of(piece, c)) cut.push_back(std::move(west));
            for (LonLatLine &east : east_of(piece, c)) cut.push_back(std::move(east));
        }
        pieces.swap(cut);
    }
    std::vector<LonLatLine> out;
    for (LonLatLine &piece : pieces) {
        if (piece.size() < 3 || twice_area(piece) <= 0) continue;
        double west = piece[0].x, east = piece[0].x;
        for (const PixelPoint &p : piece) west = std::min(west, p.x), east = std::max(east, p.x);
        long turn = turn_of((west + east) / 2, 0);
        for (PixelPoint &p : piece) p = turned_back(p, turn);
        piece.push_back(piece.front());
        out.push_back(std::move(piece));
    }
    return out;
}

std::vector<LonLatLine> line_pieces(const LonLatLine &line)
{
    std::vector<LonLatLine> out;
    long turn = 0;
    bool open = false;
    for (size_t k = 1; k < line.size(); k++) {
        const PixelPoint a = line[k - 1], b = line[k];
        LonLatLine stops{a};
        std::vector<double> cuts = cuts_between(std::min(a.x, b.x), std::max(a.x, b.x));
        if (b.x < a.x) std::reverse(cuts.begin(), cuts.end());
        for (double c : cuts) stops.push_back(crossing(a, b, c));
        stops.push_back(b);
        for (size_t s = 1; s < stops.size(); s++) {
            const PixelPoint &p = stops[s - 1], &q = stops[s];
            if (same(p, q)) continue;
            long t = turn_of((p.x + q.x) / 2, open ? turn : 0);
            if (!open || t != turn) {
                out.push_back(LonLatLine{turned_back(p, t)});
                turn = t;
                open = true;
            }
            out.back().push_back(turned_back(q, t));
        }
    }
    return out;
}

}  // namespace orvextool
