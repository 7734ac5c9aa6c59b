// What `orvex build` is asked to do: the output file and, in order, the
// resolutions to declare, each with its source and options. Parsed from the
// command line, into which recipe files are spliced.
#ifndef ORVEX_TOOL_BUILD_PLAN_H
#define ORVEX_TOOL_BUILD_PLAN_H

#include <string>
#include <vector>

namespace orvextool {

struct PlannedResolution {
    bool vector = false;
    std::string source;     /* file name of the input */
    std::string type;       /* "" (from the suffix or content), orx, rgb, dem, gshhs, db, gdal */
    int input_resolution = 0;
    int input_tile = 0;
    long dec = 1;           /* grid: decimation factor */
    double spacing = 0;     /* grid read through GDAL: degrees between warped samples (0: GDAL's choice) */
    int rows = 1, cols = 1; /* tiles along latitude and longitude */
    bool compress = true;   /* grid: deflate the tiles */
    std::string name, label;
    bool fill = false;      /* vector: areas to be filled */
    int level = 0;          /* vector: level given to every segment (0 keeps) */
    bool add = false;       /* vector: joins the previous vector resolution */
};

struct BuildPlan {
    std::string output;
    bool overwrite = false;
    bool quiet = false;
    double gamma = 1.0, lightmin = 0.0;
    long cache_mb = 256;
    long scratch_mb = 0; /* rasters read through GDAL: scratch held at once; 0: no limit */
    std::vector<PlannedResolution> resolutions;
};

/* Replaces every "--recipe FILE" by the words of that file, one
 * resolution a line, a leading "grid" or "vector" standing for "--grid" or
 * "--vector". Recipes may not include recipes. False with *why on failure. */
bool expand_recipes(const std::vector<std::string> &args, std::vector<std::string> *out,
                    std::string *why);
/* Parses the arguments after "build". False with *why on any mistake. */
bool parse_build_plan(const std::vector<std::string> &args, BuildPlan *plan, std::string *why);
/* Database inputs are named by type "db" or the suffix ".db". */
bool is_database_source(const PlannedResolution &planned);

}  // namespace orvextool

#endif
