// What the land cover and the lines share: rings turned into pixel
// coordinates of a view, once for every turn of 360 degrees that brings
// them into it.
#ifndef ORVEX_TOOL_VECTOR_PIECES_H
#define ORVEX_TOOL_VECTOR_PIECES_H

#include <vector>

#include "polyline.h"
#include "vectors.h"

namespace orvexcli {

/* Turns of 360 degrees that bring a ring into view. Kept without the heap:
 * a view is asked about every ring of a map. */
struct Shifts {
    double turn[7];
    int count = 0;
    const double *begin() const { return turn; }
    const double *end() const { return turn + count; }
};

/* Longitude and latitude to pixel coordinates of a view, with the row
 * arithmetic of the projection worked out once rather than per point. */
class PixelMapper {
public:
    explicit PixelMapper(const View &view);
    orvextool::PixelPoint operator()(double lon, double lat) const;
    std::vector<orvextool::PixelPoint> project(const std::vector<orvextool::PixelPoint> &lonlat, double shift) const;
    /* The points of a line in longitude and latitude without those that
     * lie within `radius` pixels of the last one kept (the first and last
     * always kept): most of a detailed ring at a small scale, dropped
     * before any is projected. Distances are measured at the scale of the
     * row nearer the pole, so none is underestimated. */
    std::vector<orvextool::PixelPoint> thin(const std::vector<orvextool::PixelPoint> &lonlat, double radius) const;
    /* The pixel box of a ring's longitude and latitude box, shifted. */
    orvextool::PixelBox box_of(const Ring &ring, double shift) const;

private:
    const View &view_;
    double x_scale_, y_offset_, y_scale_;
    /* Pixels per degree of latitude from |latitude| d to d + 1 degrees, at
     * most (at d + 1). */
    double lat_scale_[90];
};

/* The view grown by `margin` pixels on every side, in the longitudes of a
 * ring drawn with `shift` and in latitudes. Rows and columns are monotonic
 * in latitude and longitude, so a segment whose two ends lie beyond one
 * side of this box is drawn wholly beyond that side of the grown view. */
struct LonLatBox {
    double west, east, south, north;
    unsigned outcode(const orvextool::PixelPoint &p) const
    {
        return (p.x < west) | (p.x > east) << 1 | (p.y < south) << 2 | (p.y > north) << 3;
    }
};
/* The view grown by `margin` pixels, in longitudes and latitudes, worked
 * out once for all the rings drawn into it. */
class Reach {
public:
    Reach(const View &view, double margin);
    /* The turns that bring the ring within the grown view; none when its
     * latitudes miss it. */
    Shifts shifts(const Ring &ring) const;
    /* Positions of the rings that may reach the grown view, in order. */
    std::vector<size_t> near(const std::vector<Ring> &rings) const { return rings_near(rings, west_, east_, south_, north_); }
    /* The grown view in the longitudes of a ring drawn with `shift`. */
    LonLatBox box(double shift) const { return LonLatBox{west_ - shift, east_ - shift, south_, north_}; }

private:
    double west_, east_, south_, north_;
};

/* A ring's points without the inner points of each chunk that lies wholly
 * beyond one side of the box: the line through the chunk's ends stays
 * beyond that side as the chunk did, so neither a fill nor a line inside
 * the box changes. Rings without chunk boxes come back whole. */
std::vector<orvextool::PixelPoint> points_near_box(const Ring &ring, const LonLatBox &box);

/* A closed ring with its points far from the box moved onto the box's
 * edges, and runs of them along one edge shortened: a point both of whose
 * edges lie beyond one side of the box (perhaps not the same side) can
 * move onto the box without either edge crossing the inside, so the
 * ring's winding round every point inside is unchanged. A continent of
 * 10^5 points seen through a small view keeps only what is near it. */
std::vector<orvextool::PixelPoint> fold_onto_box(const std::vector<orvextool::PixelPoint> &ring, const LonLatBox &box);
/* The runs of a line whose segments may reach the box; segments wholly
 * beyond one side of it are left out. */
std::vector<std::vector<orvextool::PixelPoint>> runs_near_box(const std::vector<orvextool::PixelPoint> &line,
                                                              const LonLatBox &box);

/* True when two boxes share no point. */
bool apart(const orvextool::PixelBox &a, const orvextool::PixelBox &b);

/* The view grown by `margin` pixels on every side. */
orvextool::PixelBox view_box(const View &view, double margin);

}  // namespace orvexcli

#endif
