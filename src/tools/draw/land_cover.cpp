// Land and water of every pixel from the filled shoreline rings, filled
// with AGG's anti-aliasing rasteriser straight into the cover, so that
// coasts get the fraction of land their pixels hold. Levels nest: land (1)
// is added, lakes (2) taken out, islands in lakes (3) added back, ponds on
// them (4) taken out again, in that order.
#include <agg_pixfmt_gray.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_scanline.h>
#include <agg_scanline_p.h>

#include <map>

#include "vector_pieces.h"

namespace orvexcli {

namespace {

using orvextool::PixelBox;
using orvextool::PixelPoint;

/* Fills lose nothing a pixel would show when their outlines move by this
 * much, and rings of 10^5 points shrink to what the pixels can hold: half
 * of it goes to thinning the points before they are projected, half to
 * Douglas-Peucker after. */
const double kFillTolerance = 0.3;

using RingsByLevel = std::map<int, std::vector<std::vector<PixelPoint>>>;

/* The filled rings in the view's pixels, cut to just past its edges. */
RingsByLevel pixel_rings(const std::vector<Ring> &rings, const View &view)
{
    RingsByLevel out;
    PixelMapper mapper(view);
    const PixelBox clip = view_box(view, 2);
    const Reach reach(view, 2);
    for (size_t k : reach.near(rings)) {
        const Ring &ring = rings[k];
        if (!ring.fill || ring.level < 1 || ring.lonlat.size() < 3) continue;
        for (double shift : reach.shifts(ring)) {
            const LonLatBox box = reach.box(shift);
            std::vector<PixelPoint> closed = points_near_box(ring, box);
            orvextool::close_ring_over_pole(&closed);
            std::vector<PixelPoint> near = mapper.thin(fold_onto_box(closed, box), kFillTolerance / 2);
            std::vector<PixelPoint> px = orvextool::clip_ring(mapper.project(near, shift), clip);
            if (px.size() < 3) continue;
            out[ring.level].push_back(orvextool::douglas_peucker(px, kFillTolerance / 2));
        }
    }
    return out;
}

/* Odd levels are land, even ones water: blending a fraction c of 255
 * into a pixel adds land where there was none, blending c of 0 takes away
 * that fraction of what there was. Rings of one level are filled as one
 * shape (nonzero winding), so that two of them sharing an edge (a ring the
 * source cut at the 180 degree meridian) leave no seam of half-covered
 * pixels. */
void fill_levels(const RingsByLevel &levels, const View &view, unsigned char *cover)
{
    agg::rendering_buffer buffer(cover, static_cast<unsigned>(view.width), static_cast<unsigned>(view.height),
                                 static_cast<int>(view.width));
    agg::pixfmt_gray8 pixels(buffer);
    agg::renderer_base<agg::pixfmt_gray8> base(pixels);
    agg::renderer_scanline_aa_solid<agg::renderer_base<agg::pixfmt_gray8>> solid(base);
    agg::rasterizer_scanline_aa<> rasteriser;
    rasteriser.filling_rule(agg::fill_non_zero);
    agg::scanline_p8 scanline;
    for (const auto &[level, rings] : levels) {
        rasteriser.reset();
        for (const std::vector<PixelPoint> &ring : rings) {
            rasteriser.move_to_d(ring[0].x, ring[0].y);
            for (size_t k = 1; k < ring.size(); k++) rasteriser.line_to_d(ring[k].x, ring[k].y);
            rasteriser.close_polygon();
        }
        solid.color(agg::gray8(level % 2 ? 255 : 0));
        agg::render_scanlines(rasteriser, scanline, solid);
    }
}

}  // namespace

void land_cover(const std::vector<Ring> &rings, const View &view, LandCover *out)
{
    out->land.clear();
    out->any = false;
    for (const Ring &ring : rings) out->any = out->any || (ring.fill && ring.level >= 1);
    if (!out->any || view.width <= 0 || view.height <= 0) return;
    out->land.assign(static_cast<size_t>(view.width * view.height), 0);
    RingsByLevel levels = pixel_rings(rings, view);
    if (!levels.empty()) fill_levels(levels, view, out->land.data());
}

}  // namespace orvexcli
