// What `orvex export` is asked to do: which resolution of which map goes
// to which file, whole or within a region, in which format.
#ifndef ORVEX_TOOL_EXPORT_OPTIONS_H
#define ORVEX_TOOL_EXPORT_OPTIONS_H

#include <string>
#include <vector>

#include "region.h"

namespace orvextool {

struct ExportOptions {
    std::string map, output;
    std::string format; /* GDAL driver; empty: from the output's suffix */
    int resolution = -1;
    bool has_region = false;
    Region region;
    bool overwrite = false;
    bool keep_columns = false; /* a whole-circle grid keeps its stored column order */
};

/* Parses the arguments after "export": MAP --res K [--region W/E/S/N]
 * [--format DRIVER] [--overwrite] [--keep-columns] OUT, options anywhere. False with *why
 * on any mistake. */
bool parse_export_options(const std::vector<std::string> &args, ExportOptions *options, std::string *why);

}  // namespace orvextool

#endif
