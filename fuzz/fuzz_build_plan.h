// What the build fuzz targets share: a command line of `orvex build` is
// expanded and parsed, and is either refused with a reason or gives a plan
// that every later step can take as it is.
#ifndef ORVEX_FUZZ_BUILD_PLAN_H
#define ORVEX_FUZZ_BUILD_PLAN_H

#include <math.h>

#include <string>
#include <vector>

#include "build_plan.h"

namespace fuzzbuild {

inline bool known_type(const std::string &type)
{
    return type.empty() || type == "orx" || type == "rgb" || type == "dem" || type == "gshhs" || type == "db" ||
           type == "gdal";
}

inline bool sound_resolution(const orvextool::BuildPlan &plan, size_t k)
{
    const orvextool::PlannedResolution &r = plan.resolutions[k];
    if (!known_type(r.type) || r.dec < 1 || r.rows < 1 || r.cols < 1 || r.input_resolution < 0 ||
        r.input_tile < 0 || r.level < 0)
        return false;
    if (!r.vector && (r.fill || r.add || r.level != 0)) return false;
    if (r.vector && (r.dec != 1 || !r.compress || r.type == "gdal" || r.spacing != 0)) return false;
    if (!(r.spacing >= 0) || r.spacing > 90) return false;
    if (!r.add) return true;
    if (k == 0) return false;
    const orvextool::PlannedResolution &joined = plan.resolutions[k - 1];
    return joined.vector && joined.rows == r.rows && joined.cols == r.cols;
}

inline bool sound_plan(const orvextool::BuildPlan &plan)
{
    if (plan.output.empty() || plan.resolutions.empty() || !isfinite(plan.gamma) || !(plan.gamma > 0) || plan.lightmin < 0 ||
        plan.lightmin > 1 || plan.cache_mb < 1)
        return false;
    for (size_t k = 0; k < plan.resolutions.size(); k++)
        if (!sound_resolution(plan, k)) return false;
    return true;
}

// Expands the recipes named in `args` and parses the result; traps on an
// accepted plan that is not sound or a refusal that gives no reason.
inline void check_build_args(const std::vector<std::string> &args)
{
    std::vector<std::string> words;
    std::string why;
    orvextool::BuildPlan plan;
    bool ok = orvextool::expand_recipes(args, &words, &why) && orvextool::parse_build_plan(words, &plan, &why);
    if (ok ? !sound_plan(plan) : why.empty()) __builtin_trap();
    for (const orvextool::PlannedResolution &r : plan.resolutions) (void)orvextool::is_database_source(r);
}

}  // namespace fuzzbuild

#endif
