#include "build_plan.h"

#include <fstream>

#include "args.h"

namespace orvextool {

namespace {

bool read_recipe(const std::string &path, std::vector<std::string> *out, std::string *why)
{
    std::ifstream in(path);
    if (!in) {
        *why = "cannot read recipe file '" + path + "'";
        return false;
    }
    std::string line;
    long number = 0;
    while (std::getline(in, line)) {
        number++;
        std::vector<std::string> words;
        if (!split_words(line, &words)) {
            *why = path + ":" + std::to_string(number) + ": unclosed quote";
            return false;
        }
        if (words.empty()) continue;
        if (words[0] == "grid" || words[0] == "vector") words[0] = "--" + words[0];
        for (const std::string &w : words) {
            if (w == "--recipe") {
                *why = path + ":" + std::to_string(number) + ": recipes cannot include recipes";
                return false;
            }
            out->push_back(w);
        }
    }
    return true;
}

/* The option parser's state: the words and the current position. */
struct Cursor {
    const std::vector<std::string> &args;
    size_t i;
    std::string *why;
    bool value(const std::string &option, std::string *out)
    {
        if (i + 1 >= args.size()) {
            *why = option + " needs a value";
            return false;
        }
        *out = args[++i];
        return true;
    }
    bool number(const std::string &option, long min, long max, long *out)
    {
        std::string text;
        if (!value(option, &text)) return false;
        if (!parse_long(text.c_str(), min, max, out)) {
            *why = option + ": '" + text + "' is not a whole number from " + std::to_string(min) +
                   " to " + std::to_string(max);
            return false;
        }
        return true;
    }
    bool real(const std::string &option, double *out)
    {
        std::string text;
        if (!value(option, &text)) return false;
        if (!parse_double(text.c_str(), out)) {
            *why = option + ": '" + text + "' is not a number";
            return false;
        }
        return true;
    }
};

bool global_option(Cursor &c, const std::string &w, BuildPlan *plan, bool *handled)
{
    *handled = true;
    long n = 0;
    if (w == "--overwrite") plan->overwrite = true;
    else if (w == "--quiet") plan->quiet = true;
    else if (w == "--gamma") {
        // The library leaves the lightness alone for a gamma of 0 or less:
        // a user who asks for one would see no change and no reason.
        if (!c.real(w, &plan->gamma)) return false;
        if (!(plan->gamma > 0)) {
            *c.why = "--gamma must be greater than 0";
            return false;
        }
    }
    else if (w == "--lightmin") {
        if (!c.real(w, &plan->lightmin)) return false;
        if (plan->lightmin < 0 || plan->lightmin > 1) {
            *c.why = "--lightmin must lie within 0 and 1";
            return false;
        }
    } else if (w == "--cache-mb") {
        if (!c.number(w, 1, 1L << 20, &n)) return false;
        plan->cache_mb = n;
    } else if (w == "--scratch-mb") {
        if (!c.number(w, 1, 1L << 30, &n)) return false;
        plan->scratch_mb = n;
    } else *handled = false;
    return true;
}

bool grid_only(const PlannedResolution &r, const std::string &w, std::string *why)
{
    if (r.vector) *why = w + " applies to grid resolutions only";
    return !r.vector;
}

bool vector_only(const PlannedResolution &r, const std::string &w, std::string *why)
{
    if (!r.vector) *why = w + " applies to vector resolutions only";
    return r.vector;
}

bool resolution_option(Cursor &c, const std::string &w, PlannedResolution &r, bool *handled)
{
    *handled = true;
    long n = 0;
    if (w == "--type") {
        if (!c.value(w, &r.type)) return false;
        if (r.type != "orx" && r.type != "rgb" && r.type != "dem" && r.type != "gshhs" && r.type != "db" &&
            r.type != "gdal") {
            *c.why = "--type must be orx, rgb, dem, gshhs, db or gdal";
            return false;
        }
        if (r.type == "gdal" && r.vector) {
            *c.why = "--type gdal applies to grid resolutions only (vector data goes in through 'orvex shp2db')";
            return false;
        }
    } else if (w == "--res") {
        if (!c.number(w, 0, 1000000, &n)) return false;
        r.input_resolution = static_cast<int>(n);
    } else if (w == "--tile") {
        if (!c.number(w, 0, 1000000000, &n)) return false;
        r.input_tile = static_cast<int>(n);
    } else if (w == "--dec") {
        if (!grid_only(r, w, c.why) || !c.number(w, 1, 100000, &r.dec)) return false;
    } else if (w == "--tiles") {
        std::string text;
        if (!c.value(w, &text)) return false;
        if (!parse_tiles(text.c_str(), &r.rows, &r.cols)) {
            *c.why = "--tiles: '" + text + "' is not ROWSxCOLUMNS, e.g. 3x6";
            return false;
        }
    } else if (w == "--spacing") {
        if (!grid_only(r, w, c.why) || !c.real(w, &r.spacing)) return false;
        if (!(r.spacing > 0) || r.spacing > 90) {
            *c.why = "--spacing must lie above 0 and at most 90 degrees";
            return false;
        }
    } else if (w == "--compress" || w == "--no-compress") {
        if (!grid_only(r, w, c.why)) return false;
        r.compress = w == "--compress";
    } else if (w == "--name") return c.value(w, &r.name);
    else if (w == "--label") return c.value(w, &r.label);
    else if (w == "--fill" || w == "--no-fill") {
        if (!vector_only(r, w, c.why)) return false;
        r.fill = w == "--fill";
    } else if (w == "--level") {
        if (!vector_only(r, w, c.why) || !c.number(w, 0, 1000000, &n)) return false;
        r.level = static_cast<int>(n);
    } else if (w == "--add") {
        if (!vector_only(r, w, c.why)) return false;
        r.add = true;
    } else *handled = false;
    return true;
}

/* A resolution joining the previous vector resolution takes its tiling, as
 * the library walks the joined tiles by it. */
bool settle_additions(BuildPlan *plan, std::string *why)
{
    for (size_t k = 0; k < plan->resolutions.size(); k++) {
        PlannedResolution &r = plan->resolutions[k];
        if (!r.add) continue;
        if (k == 0 || !plan->resolutions[k - 1].vector) {
            *why = "--add must follow a vector resolution";
            return false;
        }
        r.rows = plan->resolutions[k - 1].rows;
        r.cols = plan->resolutions[k - 1].cols;
    }
    return true;
}

}  // namespace

bool expand_recipes(const std::vector<std::string> &args, std::vector<std::string> *out, std::string *why)
{
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] != "--recipe") {
            out->push_back(args[i]);
            continue;
        }
        if (i + 1 >= args.size()) {
            *why = "--recipe needs a file name";
            return false;
        }
        if (!read_recipe(args[++i], out, why)) return false;
    }
    return true;
}

bool is_database_source(const PlannedResolution &planned)
{
    if (!planned.type.empty()) return planned.type == "db";
    const std::string &s = planned.source;
    return s.size() > 3 && s.compare(s.size() - 3, 3, ".db") == 0;
}

bool parse_build_plan(const std::vector<std::string> &args, BuildPlan *plan, std::string *why)
{
    Cursor c{args, 0, why};
    for (c.i = 0; c.i < args.size(); c.i++) {
        const std::string &w = args[c.i];
        bool handled = false;
        if (!global_option(c, w, plan, &handled)) return false;
        if (handled) continue;
        if (w == "--grid" || w == "--vector") {
            PlannedResolution r;
            r.vector = w == "--vector";
            if (!c.value(w, &r.source)) return false;
            plan->resolutions.push_back(r);
            continue;
        }
        if (!plan->resolutions.empty()) {
            if (!resolution_option(c, w, plan->resolutions.back(), &handled)) return false;
            if (handled) continue;
        }
        if (w.size() > 1 && w[0] == '-') {
            *why = plan->resolutions.empty() && w != "--help"
                       ? "unknown option " + w + " (resolution options follow --grid or --vector)"
                       : "unknown option " + w;
            return false;
        }
        if (!plan->output.empty()) {
            *why = "unexpected argument '" + w + "' (the output file is '" + plan->output + "')";
            return false;
        }
        plan->output = w;
    }
    if (plan->output.empty()) {
        *why = "no output file given";
        return false;
    }
    if (plan->resolutions.empty()) {
        *why = "no resolution given (use --grid SRC or --vector SRC)";
        return false;
    }
    return settle_additions(plan, why);
}

}  // namespace orvextool
