// Shorelines, borders and rivers drawn with AGG: anti-aliased, styled by
// family, class and zoom, each line cut to the view and simplified to a
// fraction of a pixel before the rasteriser sees it.
//
// AGG's outline renderer rather than Cairo's stroker: map lines are one
// pixel wide or less, and for such lines AGG draws each segment with an
// anti-aliased profile of the exact width, where Cairo turns every stroke
// into a polygon and scan-converts its union. On the lines of a world tile
// (274 lines, 5682 points after simplification) Cairo took 6 to 13 ms, AGG's
// scanline stroker 3.5 ms and its outline renderer 0.7 ms, the pictures
// alike to the eye; at a few milliseconds a tile in all, only the last
// fits. AGG also draws into the picture's own RGB pixels, with no copy.
#include <agg_conv_dash.h>
#include <agg_path_storage.h>
#include <agg_pixfmt_rgb.h>
#include <agg_rasterizer_outline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_outline_aa.h>
#include <math.h>

#include <map>
#include <tuple>

#include "palette.h"
#include "vector_pieces.h"

namespace orvexcli {

namespace {

using orvextool::LineFamily;
using orvextool::LineStyle;
using orvextool::PixelBox;
using orvextool::PixelPoint;

/* Lines move by no more than this when simplified, less than the
 * anti-aliasing can show: half in thinning before projection, half in
 * Douglas-Peucker after. */
const double kLineTolerance = 0.4;

/* The lines of one style, drawn together. */
struct Stroke {
    LineStyle style;
    std::vector<std::vector<PixelPoint>> lines;
};
/* Drawn in key order: shores first, then rivers (minor classes under major
 * ones), borders, anything else on top. */
using StrokeKey = std::tuple<int, int, unsigned>;

StrokeKey key_of(LineFamily family, int level, orvextool::Rgb colour)
{
    int order = family == LineFamily::shore ? 0 : family == LineFamily::rivers ? 1 : family == LineFamily::borders ? 2 : 3;
    unsigned rgb = family == LineFamily::other ? (colour.r << 16 | colour.g << 8 | colour.b) : 0;
    return StrokeKey{order, order == 1 ? -level : level, rgb};
}

/* Edges that run to a pole only close a ring drawn on a flat map, and
 * edges along the 180 degree meridian where the source cut a ring in two;
 * neither is a shoreline. */
bool edge_of_no_shore(const PixelPoint &a, const PixelPoint &b)
{
    return fabs(a.y) >= 89.99 || fabs(b.y) >= 89.99 || orvextool::meridian_cut_edge(a, b);
}

/* The pieces of a ring to draw near a box, in longitude and latitude. */
std::vector<std::vector<PixelPoint>> drawn_pieces(const Ring &ring, const LonLatBox &box)
{
    std::vector<PixelPoint> line = points_near_box(ring, box);
    /* A ring closes on its first point, unless it goes round a pole. */
    if (ring.fill && line.size() > 2 && fabs(line.back().x - line.front().x) <= 180) line.push_back(line.front());
    std::vector<std::vector<PixelPoint>> pieces(1);
    for (size_t k = 0; k < line.size(); k++) {
        if (ring.fill && k > 0 && edge_of_no_shore(line[k - 1], line[k]) && !pieces.back().empty())
            pieces.emplace_back();
        pieces.back().push_back(line[k]);
    }
    return pieces;
}

/* Lines reach past the view by half their width: one passing just
 * outside still draws its edge, as the tile beside draws the rest. Widths
 * stay under 4 pixels. */
const double kLineMargin = 4;

/* The view as the lines see it, worked out once for all of them. */
struct LineView {
    const View &view;
    const PixelMapper &mapper;
    const Reach &reach;
    const PixelBox &clip;
    double zoom;
};

void add_ring(const Ring &ring, const LineView &lv, std::map<StrokeKey, Stroke> *strokes)
{
    const Shifts shifts = lv.reach.shifts(ring);
    if (shifts.count == 0 || ring.lonlat.size() < 2) return;
    LineFamily family = ring.fill ? LineFamily::shore : orvextool::line_family(ring.family);
    LineStyle style = orvextool::line_style(family, ring.level, lv.zoom);
    if (!style.draw) return;
    if (family == LineFamily::other) style.colour = ring.colour;
    for (double shift : shifts) {
        PixelBox box = lv.mapper.box_of(ring, shift);
        if (std::max(box.x1 - box.x0, box.y1 - box.y0) < style.min_extent) return;
        Stroke &stroke = (*strokes)[key_of(family, ring.level, style.colour)];
        stroke.style = style;
        const LonLatBox near = lv.reach.box(shift);
        for (const std::vector<PixelPoint> &piece : drawn_pieces(ring, near)) {
            for (const std::vector<PixelPoint> &run : runs_near_box(piece, near)) {
                std::vector<PixelPoint> px = lv.mapper.project(lv.mapper.thin(run, kLineTolerance / 2), shift);
                for (std::vector<PixelPoint> &part : orvextool::clip_polyline(px, lv.clip))
                    stroke.lines.push_back(orvextool::douglas_peucker(part, kLineTolerance / 2));
            }
        }
    }
}

using RgbPixels = agg::pixfmt_rgb24;
using Outline = agg::renderer_outline_aa<agg::renderer_base<RgbPixels>>;
static_assert(sizeof(orvextool::Rgb) == 3, "the picture's pixels are drawn in place as packed RGB");

void stroke(const Stroke &s, agg::renderer_base<RgbPixels> &base)
{
    const LineStyle &st = s.style;
    agg::line_profile_aa profile(st.width, agg::gamma_none());
    Outline outline(base, profile);
    outline.color(agg::rgba8(st.colour.r, st.colour.g, st.colour.b, static_cast<unsigned>(lround(st.alpha * 255))));
    agg::rasterizer_outline_aa<Outline> rasteriser(outline);
    rasteriser.round_cap(st.dash <= 0);
    rasteriser.line_join(agg::outline_round_join);
    agg::path_storage path;
    for (const std::vector<PixelPoint> &line : s.lines) {
        path.move_to(line[0].x, line[0].y);
        for (size_t k = 1; k < line.size(); k++) path.line_to(line[k].x, line[k].y);
    }
    if (st.dash > 0) {
        agg::conv_dash<agg::path_storage> dashed(path);
        dashed.add_dash(st.dash, st.dash * 0.5);
        rasteriser.add_path(dashed);
    } else {
        rasteriser.add_path(path);
    }
}

}  // namespace

void draw_lines(const std::vector<Ring> &rings, const View &view, orvextool::Image *image)
{
    if (view.width != image->width || view.height != image->height || image->pixels.empty()) return;
    const double zoom = orvextool::zoom_of_pixel(view.dlon());
    std::map<StrokeKey, Stroke> strokes;
    const PixelMapper mapper(view);
    const Reach reach(view, kLineMargin);
    const PixelBox clip = view_box(view, kLineMargin);
    const LineView lv{view, mapper, reach, clip, zoom};
    for (size_t k : reach.near(rings)) add_ring(rings[k], lv, &strokes);
    if (strokes.empty()) return;
    agg::rendering_buffer buffer(&image->pixels[0].r, static_cast<unsigned>(image->width),
                                 static_cast<unsigned>(image->height), static_cast<int>(image->width * 3));
    RgbPixels pixels(buffer);
    agg::renderer_base<RgbPixels> base(pixels);
    for (const auto &entry : strokes)
        if (!entry.second.lines.empty()) stroke(entry.second, base);
}

}  // namespace orvexcli
