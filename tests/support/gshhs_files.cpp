#include "gshhs_files.h"

#include <math.h>

namespace {

void put32(std::string &out, int v)
{
    unsigned u = static_cast<unsigned>(v);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((u >> shift) & 255));
}

void put16(std::string &out, int v)
{
    out.push_back(static_cast<char>((v >> 8) & 255));
    out.push_back(static_cast<char>(v & 255));
}

}  // namespace

std::string gshhs_file_bytes(const std::vector<GshhsPolygon> &polygons, GshhsLayout layout)
{
    std::string out;
    for (const GshhsPolygon &p : polygons) {
        int west = 0, east = 0, south = 0, north = 0;
        for (size_t i = 0; i < p.points.size(); i++) {
            int x = p.points[i].first, y = p.points[i].second;
            if (i == 0 || x < west) west = x;
            if (i == 0 || x > east) east = x;
            if (i == 0 || y < south) south = y;
            if (i == 0 || y > north) north = y;
        }
        put32(out, p.id);
        put32(out, p.override_count ? p.count : static_cast<int>(p.points.size()));
        put32(out, layout == GshhsLayout::New44 ? (7 << 8) | p.level : p.level);
        put32(out, west);
        put32(out, east);
        put32(out, south);
        put32(out, north);
        put32(out, 1234);  // area
        if (layout == GshhsLayout::New44) {
            put32(out, 5678);  // area_full
            put32(out, -1);    // container
            put32(out, -1);    // ancestor
        } else {
            put16(out, 1);  // greenwich
            put16(out, 0);  // source
        }
        for (const auto &pt : p.points) {
            put32(out, pt.first);
            put32(out, pt.second);
        }
    }
    return out;
}

GshhsPolygon gshhs_polygon(int id, int level, const std::vector<std::pair<double, double>> &deg)
{
    GshhsPolygon p;
    p.id = id;
    p.level = level;
    for (const auto &d : deg)
        p.points.emplace_back(static_cast<int>(lround(d.first * 1e6)),
                              static_cast<int>(lround(d.second * 1e6)));
    return p;
}
