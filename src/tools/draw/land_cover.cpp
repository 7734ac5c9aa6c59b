// Land and water of every pixel from the filled shoreline rings, drawn with
// Cairo into an alpha mask so that coasts get the fraction of land their
// pixels hold. Levels nest: land (1) is added, lakes (2) taken out, islands
// in lakes (3) added back, ponds on them (4) taken out again, in that order.
#include <string.h>

#include <map>

#include "vector_pieces.h"

namespace orvexcli {

namespace {

using orvextool::PixelBox;
using orvextool::PixelPoint;

/* Fills lose nothing a pixel would show when their outlines move by this
 * much, and rings of 10^5 points shrink to what the pixels can hold. */
const double kFillTolerance = 0.3;

using RingsByLevel = std::map<int, std::vector<std::vector<PixelPoint>>>;

/* The filled rings in the view's pixels, cut to just past its edges. */
RingsByLevel pixel_rings(const std::vector<Ring> &rings, const View &view)
{
    RingsByLevel out;
    PixelMapper mapper(view);
    const PixelBox clip = view_box(view, 2);
    for (const Ring &ring : rings) {
        if (!ring.fill || ring.level < 1 || ring.lonlat.size() < 3) continue;
        std::vector<double> shifts = shifts_into_view(ring.lonmin, ring.lonmax, view);
        std::vector<PixelPoint> closed;
        for (double shift : shifts) {
            if (apart(mapper.box_of(ring, shift), clip)) continue;
            if (closed.empty()) {
                closed = ring.lonlat;
                orvextool::close_ring_over_pole(&closed);
            }
            std::vector<PixelPoint> px = orvextool::clip_ring(mapper.project(closed, shift), clip);
            if (px.size() < 3) continue;
            out[ring.level].push_back(orvextool::simplify_polyline(px, kFillTolerance));
        }
    }
    return out;
}

/* Odd levels are land, even ones water. Rings of one level are filled as
 * one path, so that two of them sharing an edge (a ring the source cut at
 * the 180 degree meridian) leave no seam of half-covered pixels. */
void fill_levels(cairo_t *cr, const RingsByLevel &levels)
{
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    for (const auto &[level, rings] : levels) {
        cairo_set_operator(cr, level % 2 ? CAIRO_OPERATOR_OVER : CAIRO_OPERATOR_DEST_OUT);
        for (const std::vector<PixelPoint> &ring : rings) add_to_path(cr, ring, true);
        cairo_fill(cr);
    }
}

}  // namespace

void land_cover(const std::vector<Ring> &rings, const View &view, LandCover *out)
{
    out->land.clear();
    out->any = false;
    for (const Ring &ring : rings) out->any = out->any || (ring.fill && ring.level >= 1);
    if (!out->any) return;
    out->land.assign(static_cast<size_t>(view.width * view.height), 0);
    RingsByLevel levels = pixel_rings(rings, view);
    if (levels.empty()) return;
    auto nothing = [](cairo_surface_t *, long) {};
    auto copy_out = [&](cairo_surface_t *surface, long y0) {
        const unsigned char *data = cairo_image_surface_get_data(surface);
        long stride = cairo_image_surface_get_stride(surface), rows = cairo_image_surface_get_height(surface);
        for (long j = 0; j < rows; j++)
            memcpy(&out->land[static_cast<size_t>((y0 + j) * view.width)], data + j * stride,
                   static_cast<size_t>(view.width));
    };
    /* Without a surface (no memory for it) nothing is known of the land,
     * and the picture falls back on what it shows without rings. */
    if (!for_each_band(view, CAIRO_FORMAT_A8, nothing, [&](cairo_t *cr) { fill_levels(cr, levels); }, copy_out)) {
        out->land.clear();
        out->any = false;
    }
}

}  // namespace orvexcli
