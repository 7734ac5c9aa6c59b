// orvex render [MAP] -o out.png [--region W/E/S/N] [--width PX]: the
// display road end to end.
#include <stdio.h>
#include <string.h>

#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "args.h"
#include "atomic_output.h"
#include "commands.h"
#include "common.h"
#include "progress.h"
#include "draw.h"
#include "render_options.h"

namespace orvexcli {

namespace {

const char kHelp[] =
    "Usage: orvex render [MAP] -o OUT.png [OPTIONS]\n"
    "\n"
    "Draws a map into a PNG image in plate carree (longitude/latitude)\n"
    "projection. The grid resolution whose sample spacing best fits the pixel\n"
    "size is read through the tile cache: elevations get a land/sea colour ramp\n"
    "with hill shading, colour grids are shown as they are. Vector resolutions\n"
    "go on top: filled tiles by shoreline level (land, lake, island in a lake,\n"
    "pond), others as lines (borders violet, rivers blue). Without MAP the\n"
    "default map is drawn.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE   the PNG to write (required)\n"
    "  --region W/E/S/N    degrees (default -180/180/-90/90); E < W crosses 180,\n"
    "                      e.g. 170/-170/-50/-30\n"
    "  --width PX          image width in pixels (default 2048, at most 16384)\n"
    "  --colour            prefer colour grids to elevation grids\n"
    "  --grid K|none       draw grid resolution K, or no grid\n"
    "  --vector K,..|none  draw these vector resolutions (default: of the filled\n"
    "                      ones, and of the line ones of each family (the name\n"
    "                      up to its last '-'), the one whose point spacing best\n"
    "                      fits the pixel size)\n"
    "  --cache-mb N        memory for inflated tiles (default 64)\n"
    "  --threads N         threads sampling the grid (default: one per\n"
    "                      processor, at most 8)\n"
    "\n"
    "Progress is shown on standard error when it is a terminal.\n";

using orvextool::RenderOptions;

int parse_options(int argc, char **argv, RenderOptions *o)
{
    std::string why;
    return orvextool::parse_render_options(argc, argv, o, &why) ? 0 : usage_error("render", why);
}

/* A resolution number chosen on the command line: it must exist and be of
 * the right kind. */
bool explicit_resolution(Orvex &map, const std::string &text, long map_type, int *out)
{
    long k = 0;
    if (!orvextool::parse_long(text.c_str(), 0, map.frame.nresolutions - 1, &k)) return false;
    if (map.frame.resolutions[k].map_type != map_type) return false;
    *out = static_cast<int>(k);
    return true;
}

int choose_grid(Orvex &map, const RenderOptions &o, double pixel_degrees, int *grid)
{
    *grid = -1;
    if (o.grid == "none") return 0;
    if (o.grid != "auto") {
        if (!explicit_resolution(map, o.grid, ORVEX_MAP_GRID, grid))
            return usage_error("render", "--grid " + o.grid + " is not a grid resolution of this map");
        return 0;
    }
    *grid = auto_grid(map, o.colour, pixel_degrees);
    return 0;
}

int choose_vectors(Orvex &map, const RenderOptions &o, double pixel_degrees, std::vector<int> *vectors)
{
    if (o.vector == "none") return 0;
    if (o.vector == "auto") {
        *vectors = auto_vectors(map, pixel_degrees);
        return 0;
    }
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= o.vector.size()) {
        size_t comma = o.vector.find(',', start);
        if (comma == std::string::npos) comma = o.vector.size();
        parts.push_back(o.vector.substr(start, comma - start));
        start = comma + 1;
    }
    for (const std::string &p : parts) {
        int k = -1;
        if (!explicit_resolution(map, p, ORVEX_MAP_VECTOR, &k))
            return usage_error("render", "--vector " + p + " is not a vector resolution of this map");
        vectors->push_back(k);
    }
    return 0;
}

/* The PNG appears at its name whole or not at all; an existing file there
 * is replaced. */
int save_png(const orvextool::Image &image, const std::string &path)
{
    AtomicOutput file(path);
    if (!file.ready()) return fail("render", "cannot protect '" + path + "' (name too long)");
    std::string why;
    if (write_png(image, file.temp_path(), &why) != 0) return fail("render", "cannot write '" + path + "': " + why);
    test_checkpoint("written");
    if (file.commit(true, &why) != 0) return fail("render", why);
    return 0;
}

void print_done(const RenderOptions &o, const View &view, int grid, const std::vector<int> &vectors)
{
    fprintf(stderr, "orvex render: wrote %s (%ld x %ld)", o.output.c_str(), view.width, view.height);
    if (grid >= 0) fprintf(stderr, ", grid resolution %d", grid);
    for (size_t k = 0; k < vectors.size(); k++) fprintf(stderr, "%s%d", k ? "," : ", vector resolution ", vectors[k]);
    fprintf(stderr, "\n");
}

/* Every drawing thread reads through the one map object: tiles are held
 * while read, so a thread never loses a tile to another, and each tile is
 * inflated once for all of them. */
std::vector<Orvex *> drawing_threads(const RenderOptions &o, Orvex &map)
{
    long threads = o.threads;
    if (threads <= 0) {
        threads = static_cast<long>(std::thread::hardware_concurrency());
        threads = threads < 1 ? 1 : (threads > 8 ? 8 : threads);
    }
    return std::vector<Orvex *>(static_cast<size_t>(threads), &map);
}

int render(Orvex &map, const RenderOptions &o)
{
    View view;
    view.region = o.region;
    view.width = o.width;
    view.height = orvextool::region_height_px(o.region, o.width);
    if (view.height > 16384) return usage_error("render", "the image would be more than 16384 pixels high");
    int grid = -1;
    std::vector<int> vectors;
    if (choose_grid(map, o, view.dlon(), &grid) != 0 || choose_vectors(map, o, view.dlon(), &vectors) != 0) return 2;
    if (grid < 0 && vectors.empty()) return fail("render", "the map has nothing to draw (no grid or vector resolution chosen)");
    if (orvex_cache_set_budget(static_cast<size_t>(o.cache_mb) << 20) != 0)
        return fail("render", "cannot set the tile cache's budget");
    std::vector<Orvex *> maps = grid >= 0 ? drawing_threads(o, map) : std::vector<Orvex *>{&map};
    std::vector<Ring> rings = collect_rings(map, vectors);
    Layers layers;
    layers.grid = one_grid(grid, view);
    layers.rings = &rings;
    Progress progress(0, isatty(2) != 0, "bands");
    orvextool::Image image(1, 1, orvextool::Rgb{});
    int rc = draw_picture(maps, layers, view, &image, [&](long done, long total) { progress.set(done, total); });
    if (rc != 0) {
        progress.finish();
        return fail("render", "cannot read the tiles of resolution " + std::to_string(grid));
    }
    progress.stage(("writing " + o.output).c_str());
    rc = save_png(image, o.output);
    progress.finish();
    if (rc != 0) return 1;
    print_done(o, view, grid, vectors);
    return 0;
}

}  // namespace

int render_command(int argc, char **argv)
{
    if (wants_help(argc, argv)) {
        fputs(kHelp, stdout);
        return 0;
    }
    RenderOptions o;
    if (int rc = parse_options(argc, argv, &o)) return rc;
    Orvex map;
    if (open_map("render", o.map, &map) != 0) return 1;
    return render(map, o);
}

}  // namespace orvexcli
