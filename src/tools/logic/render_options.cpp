#include "render_options.h"

#include "args.h"

namespace orvextool {

namespace {

bool takes_value(const std::string &a)
{
    return a == "-o" || a == "--output" || a == "--region" || a == "--width" || a == "--grid" || a == "--vector" ||
           a == "--cache-mb" || a == "--threads";
}

bool option_value(const std::string &a, const char *v, RenderOptions *o, std::string *why)
{
    if (a == "-o" || a == "--output") o->output = v;
    else if (a == "--region") return parse_region(v, &o->region, why);
    else if (a == "--width" && !parse_long(v, 16, 16384, &o->width)) {
        *why = std::string("--width '") + v + "' is not a whole number from 16 to 16384";
        return false;
    } else if (a == "--grid") o->grid = v;
    else if (a == "--vector") o->vector = v;
    else if (a == "--cache-mb" && !parse_long(v, 1, 1L << 20, &o->cache_mb)) {
        *why = std::string("--cache-mb '") + v + "' is not a whole number of megabytes";
        return false;
    } else if (a == "--threads" && !parse_long(v, 1, 64, &o->threads)) {
        *why = std::string("--threads '") + v + "' is not a whole number from 1 to 64";
        return false;
    }
    return true;
}

}  // namespace

bool parse_render_options(int argc, char **argv, RenderOptions *o, std::string *why)
{
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (takes_value(a)) {
            if (i + 1 >= argc) {
                *why = a + " needs a value";
                return false;
            }
            if (!option_value(a, argv[++i], o, why)) return false;
        } else if (a == "--colour" || a == "--color") {
            o->colour = true;
        } else if (a.size() > 1 && a[0] == '-') {
            *why = "unknown option " + a;
            return false;
        } else if (!o->map) {
            o->map = argv[i];
        } else {
            *why = "more than one MAP given";
            return false;
        }
    }
    if (o->output.empty()) {
        *why = "no output file given (-o OUT.png)";
        return false;
    }
    return true;
}

}  // namespace orvextool
