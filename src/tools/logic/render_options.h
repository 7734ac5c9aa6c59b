// What `orvex render` is asked to do, parsed from its command line. Which
// resolutions --grid and --vector name is settled against the map later.
#ifndef ORVEX_TOOL_RENDER_OPTIONS_H
#define ORVEX_TOOL_RENDER_OPTIONS_H

#include <string>

#include "region.h"

namespace orvextool {

struct RenderOptions {
    const char *map = nullptr; /* argv's MAP, or null for the default map */
    std::string output;
    Region region;
    long width = 2048;
    bool colour = false;
    std::string grid = "auto", vector = "auto";
    long cache_mb = 64;
    long threads = 0; /* 0: as many as the machine has processors, at most 8 */
};

/* Parses argv[1..argc-1] of "render". False with *why on any mistake. */
bool parse_render_options(int argc, char **argv, RenderOptions *o, std::string *why);

}  // namespace orvextool

#endif
