// The display road end to end: a grid resolution sampled pixel by pixel
// through the tile cache, vector resolutions filled or drawn on top, and
// the image written as PNG.
#ifndef ORVEX_TOOL_RENDER_H
#define ORVEX_TOOL_RENDER_H

#include <functional>
#include <string>
#include <vector>

#include "Orvex.h"
#include "projection.h"
#include "raster.h"
#include "region.h"
#include "vectors.h"

namespace orvexcli {

using orvextool::View;
using orvextool::web_tile_view;

/* How much of the shared tile cache may be kept, in bytes and entries of
 * all objects: each drawing trims its own tiles between rows (and within
 * one, when a row crosses many tiles) until the whole cache is within it.
 * `sharers` drawings may run at once on other objects (a server's
 * threads); their additions between trims stay within the cache's table. */
struct CacheBudget {
    long bytes = 64L << 20;
    long entries = 514;
    long sharers = 1;
};

/* Draws grid resolution `res` over the whole image: elevations with the
 * land/sea ramp and hill shading, colours as they are. Each map object
 * (all opened on the same map) samples its own share of the rows on a
 * thread of its own within the `budget` of all; `progress`, when set, is
 * called on the calling thread with rows done and rows in all. Returns 0, or -1 when a
 * tile cannot be read (message registered on the failing thread, moved to
 * the caller's). */
int draw_grid(const std::vector<Orvex *> &maps, int res, const View &view, const CacheBudget &budget,
              orvextool::Image *image, const std::function<void(long, long)> &progress = nullptr);

/* Resolution numbers of a map type, only those of grid content `content`
 * (1 elevation, 0 colour) unless it is -1. */
std::vector<int> resolutions_of_type(Orvex &map, long map_type, long content);
/* The grid resolution (-1: none) whose spacing best fits pixels of
 * `pixel_degrees`, of colours if `colour` and the map has them, else of
 * elevations; and the best filled and the best line vector resolutions. */
int auto_grid(Orvex &map, bool colour, double pixel_degrees);
std::vector<int> auto_vectors(Orvex &map, double pixel_degrees);

/* What one picture shows: a grid resolution (-1: none) and rings. */
struct Layers {
    int grid = -1;
    const std::vector<Ring> *rings = nullptr;
};
/* Draws the layers into a new *image: the grid (or a plain sea without
 * one), then the vector layer. Returns 0, or -1 as draw_grid. */
int draw_picture(const std::vector<Orvex *> &maps, const Layers &layers, const View &view, const CacheBudget &budget,
                 orvextool::Image *image, const std::function<void(long, long)> &progress = nullptr);

/* Writes the image as an 8-bit RGB PNG. Returns 0, or -1 with a message in
 * *why. */
int write_png(const orvextool::Image &image, const std::string &path, std::string *why);
/* The same PNG in memory, deflated at zlib level `level`. Returns 0, or -1. */
int encode_png(const orvextool::Image &image, int level, std::string *out);

}  // namespace orvexcli

#endif
