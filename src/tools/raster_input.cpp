#include "raster_input.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common.h"
#include "file_kind.h"

namespace orvexcli {

bool is_outside_format(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char head[orvextool::kFileKindHead];
    size_t n = fread(head, 1, sizeof head, f);
    fclose(f);
    bool has_pf = access((path + ".pf").c_str(), F_OK) == 0;
    return !orvextool::opened_by_library(path, head, n, has_pf);
}

std::string scratch_parent()
{
    const char *tmp = getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

int open_raster(const char *command, const std::string &name, const std::string &parent,
                const RasterOptions &options, Orvex *input, std::unique_ptr<RasterGrid> *raster)
{
    std::unique_ptr<RasterGrid> grid(new RasterGrid());
    if (grid->convert(name, parent, options) != 0) return fail(command, "cannot read the raster '" + name + "'");
    if (input->setInput(grid->path().c_str(), 0, grid->type()) != 0)
        return fail(command, "cannot open the grid read from '" + name + "'");
    if (grid->row_feed() && input->setRowFeed(grid->row_feed()) != 0)
        return fail(command, "cannot read '" + name + "' a band of rows at a time");
    /* The map records the raster, not the scratch grid, as its source. */
    OrvexSource &source = input->frame.resolutions[0].source;
    snprintf(source.fname, sizeof source.fname, "%s", name.c_str());
    *raster = std::move(grid);
    return 0;
}

int open_map_or_raster(const char *command, const char *name, Orvex *map, std::unique_ptr<RasterGrid> *raster,
                       bool samples)
{
    if (!name || !gdal_built_in() || !is_outside_format(local_name(name)) || !gdal_is_raster(name))
        return open_map(command, name, map);
    RasterOptions options;
    options.samples = samples;
    if (int rc = open_raster(command, name, scratch_parent(), options, map, raster)) return rc;
    fprintf(stderr, "orvex %s: %s\n", command, (*raster)->describe(name).c_str());
    return 0;
}

}  // namespace orvexcli
