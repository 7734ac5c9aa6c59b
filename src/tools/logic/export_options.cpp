#include "export_options.h"

#include "args.h"

namespace orvextool {

namespace {

bool option_value(const std::vector<std::string> &args, size_t *i, std::string *value, std::string *why)
{
    if (*i + 1 >= args.size()) {
        *why = args[*i] + " needs a value";
        return false;
    }
    *value = args[++*i];
    return true;
}

bool take_option(const std::vector<std::string> &args, size_t *i, ExportOptions *o, std::string *why)
{
    const std::string &w = args[*i];
    std::string value;
    if (w == "--overwrite" || w == "--keep-columns") {
        (w == "--overwrite" ? o->overwrite : o->keep_columns) = true;
        return true;
    }
    if (w != "--res" && w != "--region" && w != "--format") {
        *why = "unknown option " + w;
        return false;
    }
    if (!option_value(args, i, &value, why)) return false;
    if (w == "--format") {
        o->format = value;
        return true;
    }
    if (w == "--region") {
        o->has_region = true;
        return parse_region(value.c_str(), &o->region, why);
    }
    long n = 0;
    if (!parse_long(value.c_str(), 0, 1000000, &n)) {
        *why = "--res: '" + value + "' is not a resolution number";
        return false;
    }
    o->resolution = static_cast<int>(n);
    return true;
}

}  // namespace

bool parse_export_options(const std::vector<std::string> &args, ExportOptions *o, std::string *why)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i].size() > 1 && args[i][0] == '-') {
            if (!take_option(args, &i, o, why)) return false;
        } else {
            names.push_back(args[i]);
        }
    }
    if (names.size() != 2) {
        *why = "expected MAP and OUT";
        return false;
    }
    if (o->resolution < 0) {
        *why = "--res K names the resolution to export";
        return false;
    }
    o->map = names[0];
    o->output = names[1];
    return true;
}

}  // namespace orvextool
