// Shorelines, borders and rivers drawn with Cairo: anti-aliased, styled by
// family, class and zoom, each line cut to the view and simplified to a
// fraction of a pixel before the rasteriser sees it.
//
// Cairo rather than AGG: both give exact-area anti-aliasing at this size,
// but Cairo is maintained upstream and in every distribution, is already a
// dependency of the drawing code, and its C interface keeps the templates
// of a header-only rasteriser out of our build; a 256-pixel tile's lines
// take it well under a millisecond (see the report in bench/README.md).
#include <math.h>
#include <string.h>

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

/* Lines move by no more than this when simplified: less than the
 * anti-aliasing can show. */
const double kLineTolerance = 0.4;

/* The lines of one style, stroked as one path so that where they overlap
 * or meet the colour is not laid on twice. */
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

/* The pieces of a ring to draw, in longitude and latitude. */
std::vector<std::vector<PixelPoint>> drawn_pieces(const Ring &ring)
{
    std::vector<PixelPoint> line = ring.lonlat;
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

void add_ring(const Ring &ring, const View &view, double zoom, std::map<StrokeKey, Stroke> *strokes)
{
    LineFamily family = ring.fill ? LineFamily::shore : orvextool::line_family(ring.family);
    LineStyle style = orvextool::line_style(family, ring.level, zoom);
    if (!style.draw || ring.lonlat.size() < 2) return;
    if (family == LineFamily::other) style.colour = ring.colour;
    PixelMapper mapper(view);
    /* Lines reach past the view by half their width: one passing just
     * outside still draws its edge, as the tile beside draws the rest. */
    const double margin = style.width + 2;
    const PixelBox clip = view_box(view, margin);
    std::vector<std::vector<PixelPoint>> pieces;
    for (double shift : shifts_into_view(ring.lonmin, ring.lonmax, view, margin * view.dlon())) {
        PixelBox box = mapper.box_of(ring, shift);
        if (apart(box, clip)) continue;
        if (std::max(box.x1 - box.x0, box.y1 - box.y0) < style.min_extent) return;
        if (pieces.empty()) pieces = drawn_pieces(ring);
        Stroke &stroke = (*strokes)[key_of(family, ring.level, style.colour)];
        stroke.style = style;
        for (const std::vector<PixelPoint> &piece : pieces) {
            if (piece.size() < 2) continue;
            for (std::vector<PixelPoint> &part : orvextool::clip_polyline(mapper.project(piece, shift), clip))
                stroke.lines.push_back(orvextool::simplify_polyline(part, kLineTolerance));
        }
    }
}

void stroke_all(cairo_t *cr, const std::map<StrokeKey, Stroke> &strokes)
{
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (const auto &entry : strokes) {
        const Stroke &s = entry.second;
        if (s.lines.empty()) continue;
        const LineStyle &st = s.style;
        cairo_set_source_rgba(cr, st.colour.r / 255.0, st.colour.g / 255.0, st.colour.b / 255.0, st.alpha);
        cairo_set_line_width(cr, st.width);
        if (st.dash > 0) {
            const double dashes[2] = {st.dash, st.dash * 0.6};
            cairo_set_dash(cr, dashes, 2, 0);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
        } else {
            cairo_set_dash(cr, nullptr, 0, 0);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        }
        for (const std::vector<PixelPoint> &line : s.lines) add_to_path(cr, line, false);
        cairo_stroke(cr);
    }
}

/* The picture's RGB pixels in and out of a Cairo surface of opaque ARGB. */
void image_to_surface(const orvextool::Image &image, cairo_surface_t *surface, long y0)
{
    unsigned char *data = cairo_image_surface_get_data(surface);
    long stride = cairo_image_surface_get_stride(surface), rows = cairo_image_surface_get_height(surface);
    for (long j = 0; j < rows; j++) {
        uint32_t *row = reinterpret_cast<uint32_t *>(data + j * stride);
        const orvextool::Rgb *in = &image.pixels[static_cast<size_t>((y0 + j) * image.width)];
        for (long i = 0; i < image.width; i++)
            row[i] = 0xff000000u | static_cast<uint32_t>(in[i].r) << 16 | static_cast<uint32_t>(in[i].g) << 8 | in[i].b;
    }
}

void surface_to_image(cairo_surface_t *surface, long y0, orvextool::Image *image)
{
    const unsigned char *data = cairo_image_surface_get_data(surface);
    long stride = cairo_image_surface_get_stride(surface), rows = cairo_image_surface_get_height(surface);
    for (long j = 0; j < rows; j++) {
        const uint32_t *row = reinterpret_cast<const uint32_t *>(data + j * stride);
        orvextool::Rgb *out = &image->pixels[static_cast<size_t>((y0 + j) * image->width)];
        for (long i = 0; i < image->width; i++)
            out[i] = orvextool::Rgb{static_cast<unsigned char>(row[i] >> 16), static_cast<unsigned char>(row[i] >> 8),
                                    static_cast<unsigned char>(row[i])};
    }
}

}  // namespace

void draw_lines(const std::vector<Ring> &rings, const View &view, orvextool::Image *image)
{
    if (view.width != image->width || view.height != image->height) return;
    const double zoom = orvextool::zoom_of_pixel(view.dlon());
    std::map<StrokeKey, Stroke> strokes;
    for (const Ring &ring : rings) add_ring(ring, view, zoom, &strokes);
    if (strokes.empty()) return;
    /* Without a surface (no memory for it) the picture stays without its
     * lines rather than failing. */
    for_each_band(
        view, CAIRO_FORMAT_RGB24, [&](cairo_surface_t *s, long y0) { image_to_surface(*image, s, y0); },
        [&](cairo_t *cr) { stroke_all(cr, strokes); }, [&](cairo_surface_t *s, long y0) { surface_to_image(s, y0, image); });
}

}  // namespace orvexcli
