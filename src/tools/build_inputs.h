// The inputs of a build, each opened once however many resolutions it
// feeds, and kept open until the last tile is written.
#ifndef ORVEX_TOOL_BUILD_INPUTS_H
#define ORVEX_TOOL_BUILD_INPUTS_H

#include <memory>
#include <string>
#include <vector>

#include "Orvex.h"
#include "build_plan.h"
#include "gdal_io.h"

namespace orvexcli {

class BuildInputs {
public:
    BuildInputs() = default;
    ~BuildInputs();
    BuildInputs(const BuildInputs &) = delete;
    BuildInputs &operator=(const BuildInputs &) = delete;

    /* Opens every source of the plan; 0, or 1 after reporting the failure. */
    int open_all(const orvextool::BuildPlan &plan);
    /* The open input of a resolution, or null. */
    Orvex *get(const orvextool::PlannedResolution &planned);
    /* Says on standard error, for every raster read through GDAL, what its
     * samples held and the most scratch its rows took at once. */
    void report_rasters() const;
    /* True when `path` names the same existing file as one of the sources. */
    bool is_input_path(const std::string &path) const;

private:
    struct Entry {
        std::string source, type;
        double spacing = 0;
        std::unique_ptr<RasterGrid> raster; /* a raster read through GDAL, for `object` */
        std::unique_ptr<Orvex> object;
        Dbptr db;
        bool has_db = false;
    };
    int open_entry(const orvextool::PlannedResolution &planned);
    int open_raster_entry(const orvextool::PlannedResolution &planned, Entry *e);

    std::vector<Entry> entries_;
    std::vector<std::string> sources_;
    std::string scratch_parent_; /* the output's folder */
    long scratch_limit_ = 0;     /* bytes; 0: no limit */
};

}  // namespace orvexcli

#endif
