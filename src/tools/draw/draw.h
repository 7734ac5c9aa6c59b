// The display road end to end: a region in a projection and a pixel size
// in, an image or a PNG out. Grids interpolated through the tile cache,
// land and water from the shorelines, lines on top; `orvex render`, the
// tiles of `orvex serve` and tile archives all draw through here.
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

/* The grids under a picture and the weight of each on every row of
 * pixels, -1 .. height (the margin included): one grid everywhere, or per
 * row by latitude where a finer one fades out. */
struct GridRows {
    std::vector<int> grids;
    std::vector<std::vector<float>> weights;
};
GridRows one_grid(int grid, const View &view);
/* Per row of a web tile: the coarsest of `candidates` (grids of one
 * content) whose spacing is at least as fine as the pixel's ground size
 * at the row's latitude, or the finest. Past the latitude where a coarser
 * grid takes over, the finer one fades out over a quarter of the coarser
 * spacing. A function of latitude and pixel size alone, so every tile of
 * a zoom agrees. */
GridRows grids_by_latitude(Orvex &map, const std::vector<int> &candidates, const View &view);
/* The weights of grids of `spacings` (degrees, ascending) for pixels of
 * `ground` degrees on the ground (of latitude). */
std::vector<float> latitude_weights(const std::vector<double> &spacings, double ground);

/* Vertical exaggeration of hill shading for pixels of that many metres
 * on the ground: more where a pixel is large, as real slopes over its
 * width are too gentle to show. */
double relief_exaggeration(double pixel_metres);

struct LandCover;
/* Draws the grids over the whole image: elevations with the land and sea
 * ramps and hill shading (land and water from `cover` when it has any,
 * else from the elevation's sign), colours as they are. One thread
 * per entry of `maps` (the same object may stand several times: tiles are
 * held while read, under the process's cache budget) takes bands of rows
 * in turn; `progress`, when set, is
 * called with bands done and bands in all. Returns 0, or -1 when a tile
 * cannot be read (message registered on the calling thread). */
int draw_grid(const std::vector<Orvex *> &maps, const GridRows &rows, const View &view,
              const LandCover *cover, orvextool::Image *image,
              const std::function<void(long, long)> &progress = nullptr);

/* The elevations of the grids (of one channel) at every pixel, as
 * draw_grid makes them, row after row; NaN where no grid has data.
 * Returns 0, or -1 as draw_grid. */
int sample_grid(const std::vector<Orvex *> &maps, const GridRows &rows, const View &view, std::vector<float> *values);

/* Elevation tiles in the Terrarium encoding: metres + 32768 = R * 256 + G +
 * B / 256, to the nearest 1/256 m, clamped to what the bytes hold. */
orvextool::Rgb terrarium_rgb(float metres);
double terrarium_metres(const orvextool::Rgb &rgb);
/* The elevations of the grids over the view as Terrarium pixels; pixels
 * without data (and a view without grids) at sea level, 0 m. Returns 0, or
 * -1 as draw_grid. */
int draw_terrain(const std::vector<Orvex *> &maps, const GridRows &rows, const View &view, orvextool::Image *image);

/* Resolution numbers of a map type, only those of grid content `content`
 * (1 elevation, 0 colour) unless it is -1. */
std::vector<int> resolutions_of_type(Orvex &map, long map_type, long content);
/* The grid resolution (-1: none) whose spacing best fits pixels of
 * `pixel_degrees`, of colours if `colour` and the map has them, else of
 * elevations; and the best filled and the best line vector resolutions. */
int auto_grid(Orvex &map, bool colour, double pixel_degrees);
std::vector<int> auto_vectors(Orvex &map, double pixel_degrees);

/* What one picture shows: grids (none: a plain sea) and rings. */
struct Layers {
    GridRows grid;
    const std::vector<Ring> *rings = nullptr;
};
/* Draws the layers into a new *image: the land cover of the rings, the
 * grid coloured by it (or land and water from the cover alone), then the
 * lines. Returns 0, or -1 as draw_grid. */
int draw_picture(const std::vector<Orvex *> &maps, const Layers &layers, const View &view,
                 orvextool::Image *image, const std::function<void(long, long)> &progress = nullptr);

/* What a web tile's view shows with `layer` -1: the relief grids by
 * latitude and the vector resolutions that fit its pixels; with a grid
 * resolution, that grid alone and the same vectors; with a vector
 * resolution, that one alone. */
struct PictureChoice {
    GridRows grid;
    std::vector<int> vectors;
};
PictureChoice web_tile_choice(Orvex &map, const View &view, int layer);

/* Writes the image as an 8-bit PNG (with a palette when it has at most 256
 * colours, else RGB). Returns 0, or -1 with a message in *why. */
int write_png(const orvextool::Image &image, const std::string &path, std::string *why);
/* The same PNG in memory, deflated at level `level` (1 fastest to 12
 * smallest; past 9 counts as 9 without libdeflate). Returns 0, or -1. */
int encode_png(const orvextool::Image &image, int level, std::string *out);
/* How far a picture reduced to a palette lies from the original: the
 * largest difference of a channel of a pixel, and the mean over channels
 * of all pixels. */
struct PaletteError {
    int max = 0;
    double mean = 0;
};
/* The colours of `image` (any number) reduced to at most 256 by median
 * cut: the PLTE bytes (3 a colour), an index per pixel, and how far. */
void reduce_colours(const orvextool::Image &image, std::string *plte, std::vector<unsigned char> *indices,
                    PaletteError *error);
/* How far the palette picture (`plte`, an index per pixel) lies from `image`. */
PaletteError palette_error(const orvextool::Image &image, const std::string &plte, const std::vector<unsigned char> &indices);
/* Every palette colour within `tolerance` on each channel of a more common
 * one takes that colour: the palette shrinks, indices are renumbered. */
void merge_close_colours(std::string *plte, std::vector<unsigned char> *indices, int tolerance);
/* A picture to look at (web tiles) as PNG: as encode_png, but one of more
 * than 256 colours is written with the reduced palette when no channel of
 * a pixel moves by more than `max_error`, and a palette's colours within
 * `merge` levels of a more common one are merged into it (0 keeps them).
 * *error (when set) says how far the written picture lies from `image`
 * (0 when lossless). Height maps and other pictures whose values are data
 * go through encode_png. */
int encode_picture_png(const orvextool::Image &image, int level, int max_error, int merge, std::string *out,
                       PaletteError *error = nullptr);
/* The largest colour error of a web tile with a reduced palette. */
const int kTileMaxColourError = 32;
/* How far apart, per channel, colours of a web tile may be and still be
 * written as one: three levels in 255 cannot be told apart on screen, and
 * deep-zoom tiles halve in bytes. */
const int kTileColourMerge = 3;
/* The level of web tiles: small tiles for little more time than the
 * fastest level. */
const int kTilePngLevel = 6;

}  // namespace orvexcli

#endif
