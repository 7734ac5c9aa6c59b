// orvex build OUT.orx ...: declares grid and vector resolutions from any
// inputs in one run, then writes every tile, tile by tile, so that grid and
// vector resolutions may mix.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "atomic_output.h"
#include "build_inputs.h"
#include "build_plan.h"
#include "commands.h"
#include "common.h"
#include "progress.h"

namespace orvexcli {

namespace {

const char kHelp[] =
    "Usage: orvex build OUT.orx [OPTIONS] RESOLUTION...\n"
    "\n"
    "Builds a map file. Each resolution begins with --grid SRC or --vector SRC;\n"
    "the options after it, up to the next resolution, apply to it.\n"
    "\n"
    "Sources: raw grids NAME.dem / NAME.rgb (with NAME.dem.pf / NAME.rgb.pf),\n"
    "GSHHS files (.gshhs), shapefile databases (.db, made by 'orvex shp2db'),\n"
    "map files (.orx), and any raster GDAL reads (GeoTIFF, netCDF...; --type gdal\n"
    "when the file is not recognised otherwise): one elevation band of any type\n"
    "(no data -> -9999, scale and offset applied, rounded, clamped to 16 bits) or\n"
    "colours from three 8-bit bands or a palette; rasters in other coordinate\n"
    "systems are warped to longitude/latitude. An input named twice is opened once.\n"
    "\n"
    "Options of a resolution:\n"
    "  --type T        orx, rgb, dem, gshhs, db or gdal when the suffix does not tell\n"
    "  --res K         resolution number within the source (default 0)\n"
    "  --tile T        tile number within that resolution (default 0)\n"
    "  --tiles RxC     tiles along latitude x longitude (default 1x1)\n"
    "  --name N        name of the resolution (default: the source's base name)\n"
    "  --label L       free text describing the resolution, e.g. \"5 arc-minutes\"\n"
    "grid only:\n"
    "  --dec N         decimation factor (default 1): keeps every Nth sample,\n"
    "                  the highest elevation or the mean colour around it; a\n"
    "                  source whose size is not a whole number of N-sample steps\n"
    "                  and tiles is cut to the largest that is (stderr says so)\n"
    "  --spacing S     step in degrees of a raster warped to longitude/latitude\n"
    "                  (default: GDAL's suggestion); a raster already in degrees\n"
    "                  is warped too when given\n"
    "  --compress      deflate every tile (the default); --no-compress stores raw\n"
    "vector only:\n"
    "  --fill          the segments outline areas to fill (cleans them first)\n"
    "  --level N       gives every segment level N (1 land, 2 lake, 3 island, 4 pond)\n"
    "  --add           adds this source to the previous vector resolution\n"
    "Other options:\n"
    "  --recipe FILE   reads resolutions from FILE, one a line, e.g.\n"
    "                    grid etopo5.dem --dec 4 --tiles 2x4 --label \"20 arc-min\"\n"
    "                    vector land.db --fill --level 1 --name shore\n"
    "                    vector lakes.db --add --fill --level 2\n"
    "  --gamma G       lightness gamma for colour grids (default 1)\n"
    "  --lightmin L    lightness floor 0..1 for colour grids (default 0)\n"
    "  --cache-mb N    memory for inflated source tiles (default 256)\n"
    "  --scratch-mb N  a raster read through GDAL is converted a band of rows at a\n"
    "                  time into a scratch grid beside OUT.orx; fails when a band\n"
    "                  would take more than N megabytes (default: no limit)\n"
    "  --overwrite     replace OUT.orx if it exists\n"
    "  --quiet         no progress line\n"
    "\n"
    "Progress is shown on standard error when it is a terminal. The map is\n"
    "written as .OUT.orx.tmp-PID beside OUT.orx and renamed to OUT.orx only when\n"
    "complete: a failed or interrupted build leaves OUT.orx as it was.\n"
    "\n"
    "Example:\n"
    "  orvex build world.orx --grid etopo5.dem --dec 2 --tiles 3x6 --label 10min \\\n"
    "      --grid etopo5.dem --dec 8 --vector land.db --fill --level 1\n";

std::string base_name(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

const char *or_null(const std::string &s)
{
    return s.empty() ? nullptr : s.c_str();
}

/* Says on standard error which of the source tile's last rows and columns
 * a grid resolution leaves out: a size that is not a whole number of
 * decimation windows and tiles is cut to the largest one that is. */
void report_left_out(const Orvex &out, int index, Orvex *in, const orvextool::PlannedResolution &r)
{
    const OrvexGrid &g = *static_cast<const OrvexGrid *>(out.frame.resolutions[index].data);
    const OrvexGrid &sg = *static_cast<const OrvexGrid *>(in->frame.resolutions[r.input_resolution].data);
    long rows = g.nlat * r.dec, cols = g.nlon * r.dec;
    if (rows == sg.nlat_per_tile && cols == sg.nlon_per_tile) return;
    fprintf(stderr,
            "orvex build: resolution %d (decimation %ld, %dx%d tiles) covers %ld of %ld source rows "
            "and %ld of %ld source columns, from the first; the rest are left out\n",
            index, r.dec, r.rows, r.cols, rows, sg.nlat_per_tile, cols, sg.nlon_per_tile);
}

/* Declares every resolution of the plan, in order. */
int declare_all(Orvex &out, const orvextool::BuildPlan &plan, BuildInputs &inputs)
{
    int last_vector = -1;
    for (size_t k = 0; k < plan.resolutions.size(); k++) {
        const orvextool::PlannedResolution &r = plan.resolutions[k];
        Orvex *in = inputs.get(r);
        if (!in) return fail("build", "cannot open input '" + r.source + "'");
        std::string name = r.name.empty() ? base_name(r.source) : r.name;
        int index = static_cast<int>(out.frame.nresolutions);
        int rc;
        if (!r.vector)
            rc = out.setResolutionHdrGridFit(in, r.input_resolution, r.input_tile, r.dec, r.compress ? 1 : 0,
                                             r.rows, r.cols, name.c_str(), or_null(r.label));
        else
            rc = out.setResolutionHdrVector(in, r.input_resolution, r.input_tile, r.rows, r.cols,
                                            r.add ? last_vector : -1, r.fill ? 1 : 0, r.level, name.c_str(),
                                            or_null(r.label));
        if (rc != 0)
            return fail("build", "cannot declare resolution " + std::to_string(r.add ? last_vector : index) + " from '" +
                                     r.source + "'");
        if (!r.vector) report_left_out(out, index, in, r);
        if (r.vector && !r.add) last_vector = index;
    }
    return 0;
}

long count_tiles(const Orvex &out)
{
    long total = 0;
    for (long i = 0; i < out.frame.nresolutions; i++) total += out.frame.resolutions[i].ntiles;
    return total;
}

struct Written {
    Progress *progress;
    long done = 0;
};

void step_progress(void *arg, long done, long)
{
    Written *w = static_cast<Written *>(arg);
    w->done = done;
    w->progress->step();
    test_checkpoint("tile" + std::to_string(done));
}

/* Names tile number k of the whole build, counted over every resolution. */
std::string tile_name(const Orvex &out, long k)
{
    for (long i = 0; i < out.frame.nresolutions; i++) {
        long n = out.frame.resolutions[i].ntiles;
        if (k < n) return "tile " + std::to_string(k) + " of resolution " + std::to_string(i);
        k -= n;
    }
    return "a tile";
}

/* Writes every tile of every resolution, grid tiles on worker threads; the
 * source tiles inflated for grid tiles are trimmed to the memory budget as
 * the build turns from one source tile to the next. */
int write_all(Orvex &out, const orvextool::BuildPlan &plan)
{
    Progress progress(count_tiles(out), !plan.quiet && isatty(2));
    Written written{&progress};
    OrvexWriteOptions options;
    options.gamma = plan.gamma;
    options.lightmin = plan.lightmin;
    options.cache_budget = plan.cache_mb * 1024L * 1024L;
    orvex_cache_set_budget(static_cast<size_t>(options.cache_budget)); /* --cache-mb bounds the whole process */
    options.progress = step_progress;
    options.progress_arg = &written;
    int rc = out.writeData(options);
    progress.finish();
    if (rc != 0) return fail("build", "cannot write " + tile_name(out, written.done));
    return 0;
}

/* The output is written under a temporary name and replaces an existing
 * file only on success and only when asked, so the check comes first. */
int prepare_output(const orvextool::BuildPlan &plan, BuildInputs &inputs)
{
    if (inputs.is_input_path(plan.output))
        return usage_error("build", "the output '" + plan.output + "' is also an input");
    struct stat st;
    if (stat(plan.output.c_str(), &st) != 0) return 0;
    if (!plan.overwrite)
        return fail("build", "cannot create '" + plan.output +
                                 "': Cannot overwrite existing file (--overwrite replaces it)");
    if (!S_ISREG(st.st_mode)) return usage_error("build", "'" + plan.output + "' is not a regular file");
    return 0;
}

/* Declares and writes the whole map into `path`; the tile and resolution
 * counts go to *resolutions and *tiles. */
int write_map(const orvextool::BuildPlan &plan, BuildInputs &inputs, const std::string &path, long *resolutions,
              long *tiles)
{
    Orvex out;
    if (out.setOutput(path.c_str()) != 0) return fail("build", "cannot create '" + plan.output + "'");
    test_checkpoint("created");
    int rc = declare_all(out, plan, inputs);
    if (rc == 0) rc = write_all(out, plan);
    *resolutions = out.frame.nresolutions;
    *tiles = count_tiles(out);
    return rc;
}

int run_build(const orvextool::BuildPlan &plan)
{
    auto start = std::chrono::steady_clock::now();
    BuildInputs inputs;
    if (inputs.open_all(plan) != 0) return 1;
    if (int rc = prepare_output(plan, inputs)) return rc;
    AtomicOutput file(plan.output);
    if (!file.ready()) return fail("build", "cannot protect '" + plan.output + "' (name too long)");
    long n = 0, tiles = 0;
    if (int rc = write_map(plan, inputs, file.temp_path(), &n, &tiles)) return rc; /* file discards it */
    inputs.report_rasters();
    std::string why;
    if (file.commit(plan.overwrite, &why) != 0) return fail("build", why);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct stat st;
    long size = stat(plan.output.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
    fprintf(stderr, "orvex build: wrote %s: %s, %s, %ld bytes in %.1f s\n", plan.output.c_str(),
            count_of(n, "resolution").c_str(), count_of(tiles, "tile").c_str(), size, seconds);
    return 0;
}

}  // namespace

int build_command(int argc, char **argv)
{
    if (wants_help(argc, argv)) {
        fputs(kHelp, stdout);
        return 0;
    }
    std::vector<std::string> args(argv + 1, argv + argc), words;
    std::string why;
    orvextool::BuildPlan plan;
    if (!orvextool::expand_recipes(args, &words, &why) || !orvextool::parse_build_plan(words, &plan, &why))
        return usage_error("build", why);
    return run_build(plan);
}

}  // namespace orvexcli
