#include "orx_map.h"

#include <cpl_error.h>

namespace orxdriver {

const char kDriverName[] = "ORX";

void report_failure(int cpl_error, const std::string &what)
{
    std::string reason;
    for (int i = 0; i < elog_count(); i++) {
        std::string m = elog_message(i) ? elog_message(i) : "";
        while (!m.empty() && (m.back() == '\n' || m.back() == ' ' || m.back() == '.')) m.pop_back();
        if (m.empty()) continue;
        reason += (reason.empty() ? "" : "; ") + m;
    }
    elog_clear_register(0);
    CPLError(CE_Failure, cpl_error, "%s: %s%s%s", kDriverName, what.c_str(), reason.empty() ? "" : ": ",
             reason.c_str());
}

MapHandle open_map(const std::string &path)
{
    /* The library looks a bare name up among the data folders; a file
     * given to GDAL is always a file, here or where the path says. */
    std::string name = path.empty() || path[0] == '/' || path[0] == '.' ? path : "./" + path;
    MapHandle map = std::make_shared<Orvex>();
    elog_clear_register(0);
    if (map->setInput(name.c_str(), 0, "orx") != 0) {
        report_failure(CPLE_OpenFailed, "cannot open " + path);
        return nullptr;
    }
    return map;
}

std::string field_text(const char *field, size_t size)
{
    std::string out;
    for (size_t i = 0; i < size && field[i] != '\0'; i++) out += field[i];
    return out;
}

const OrvexGrid *grid_at(const Orvex &map, long k)
{
    if (k < 0 || k >= map.frame.nresolutions) return nullptr;
    const OrvexResolution &res = map.frame.resolutions[k];
    if (res.map_type != ORVEX_MAP_GRID || !res.data) return nullptr;
    return static_cast<const OrvexGrid *>(res.data);
}

}  // namespace orxdriver
