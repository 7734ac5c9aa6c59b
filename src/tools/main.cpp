// The orvex command: one program, one subcommand per map job.
#include <stdio.h>
#include <string.h>

#include "Orvex.h"
#include "commands.h"
#include "shp2db_command.h"

namespace {

struct Subcommand {
    const char *name;
    int (*run)(int, char **);
    const char *summary;
    bool budgeted; /* reads tiles under the default cache budget */
};

/* Bytes of inflated tiles a command keeps, unless it says otherwise. */
const size_t kDefaultCacheBudget = 256UL << 20;

const Subcommand kSubcommands[] = {
    {"info", orvexcli::info_command, "describe every resolution of a map", true},
    {"build", orvexcli::build_command, "build a map file from grids, shorelines, databases, maps", true},
    {"query", orvexcli::query_command, "tile, sample and value at a latitude/longitude", true},
    {"render", orvexcli::render_command, "draw a map or a region of it into a PNG image", true},
    {"check", orvexcli::check_command, "verify every header, offset, tile and point of a map", true},
    {"export", orvexcli::export_command, "write a resolution as GeoTIFF, GeoPackage... (through GDAL)", true},
    {"serve", orvexcli::serve_command, "serve maps as web-map tiles, with a page to browse them", true},
    {"tiles", orvexcli::tiles_command, "write a map's web tiles into a PMTiles or MBTiles archive", true},
    {"shp2db", orvex_shp2db_command, "import shapefiles into a shapefile database", true},
};

void print_help(FILE *out)
{
    fputs("Usage: orvex COMMAND [ARGUMENTS]\n\nTiled, multi-resolution map files.\n\nCommands:\n", out);
    for (const Subcommand &s : kSubcommands) fprintf(out, "  %-8s %s\n", s.name, s.summary);
    fputs("\n'orvex COMMAND --help' describes a command.\n"
          "Maps named without a path are looked up as maps/orx/NAME in the folders of\n"
          "ORVEX_DATA and the installed data folder.\n",
          out);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        print_help(stderr);
        return 2;
    }
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "help") == 0) {
        print_help(stdout);
        return 0;
    }
    for (const Subcommand &s : kSubcommands)
        if (strcmp(argv[1], s.name) == 0) {
            /* Drawing keeps its own trimming until it holds the tiles it
             * uses; everything else reads under one budget. */
            if (s.budgeted) orvex_cache_set_budget(kDefaultCacheBudget);
            return s.run(argc - 1, argv + 1);
        }
    fprintf(stderr, "orvex: unknown command '%s'\n", argv[1]);
    print_help(stderr);
    return 2;
}
