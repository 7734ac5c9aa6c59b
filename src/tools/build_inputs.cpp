#include "build_inputs.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include "common.h"
#include "raster_input.h"

namespace orvexcli {

BuildInputs::~BuildInputs()
{
    for (Entry &e : entries_) {
        e.object.reset(); /* the object goes before its database and its scratch grid */
        if (e.has_db) dbclose(e.db);
    }
}

namespace {

bool read_through_gdal(const orvextool::PlannedResolution &planned)
{
    if (planned.type == "gdal") return true;
    return planned.type.empty() && !planned.vector && is_outside_format(planned.source);
}

}  // namespace

/* The scratch grid goes beside the output, where the map's own room is,
 * rather than in a temporary folder that may live in memory; it holds the
 * rows the build reads at the time, never the whole raster. */
int BuildInputs::open_raster_entry(const orvextool::PlannedResolution &planned, Entry *e)
{
    if (!gdal_built_in()) return fail("build", "cannot read '" + planned.source + "': " + kNoGdal);
    RasterOptions options;
    options.spacing = planned.spacing;
    options.stream = true;
    options.scratch_limit = scratch_limit_;
    if (int rc = open_raster("build", planned.source, scratch_parent_, options, e->object.get(), &e->raster)) return rc;
    fprintf(stderr, "orvex build: %s\n", e->raster->describe(planned.source).c_str());
    return 0;
}

int BuildInputs::open_entry(const orvextool::PlannedResolution &planned)
{
    Entry e;
    e.source = planned.source;
    e.type = planned.type;
    e.spacing = planned.spacing;
    e.object.reset(new Orvex());
    if (read_through_gdal(planned)) {
        if (open_raster_entry(planned, &e) != 0) return 1;
    } else if (orvextool::is_database_source(planned)) {
        Dbptr db;
        if (dbopen(planned.source.c_str(), "r", &db) != 0)
            return fail("build", "cannot open shapefile database '" + planned.source + "'");
        e.db = db;
        e.has_db = true;
        Dbptr table = dblookup(db, nullptr, "shapefile", nullptr, nullptr);
        if (e.object->setInput(table) != 0) {
            dbclose(db);
            return fail("build", "cannot read shapefile database '" + planned.source + "'");
        }
    } else if (e.object->setInput(local_name(planned.source).c_str(), 0, planned.type.empty() ? nullptr : planned.type.c_str()) != 0) {
        return fail("build", "cannot open input '" + planned.source + "'");
    }
    entries_.push_back(std::move(e));
    return 0;
}

int BuildInputs::open_all(const orvextool::BuildPlan &plan)
{
    scratch_parent_ = folder_of(plan.output);
    scratch_limit_ = plan.scratch_mb << 20;
    for (const orvextool::PlannedResolution &planned : plan.resolutions) {
        sources_.push_back(planned.source);
        if (get(planned)) continue;
        if (open_entry(planned) != 0) return 1;
    }
    return 0;
}

Orvex *BuildInputs::get(const orvextool::PlannedResolution &planned)
{
    for (Entry &e : entries_)
        if (e.source == planned.source && e.type == planned.type && e.spacing == planned.spacing)
            return e.object.get();
    return nullptr;
}

void BuildInputs::report_rasters() const
{
    for (const Entry &e : entries_) {
        if (!e.raster) continue;
        std::string what = e.raster->summary().colour ? "" : e.raster->counts() + ", ";
        fprintf(stderr, "orvex build: '%s' read: %s%ld rows read, %ld bytes of scratch at most\n", e.source.c_str(),
                what.c_str(), e.raster->rows_read(), e.raster->scratch_peak());
    }
}

bool BuildInputs::is_input_path(const std::string &path) const
{
    char out[PATH_MAX], in[PATH_MAX];
    if (!realpath(path.c_str(), out)) return false;
    for (const std::string &s : sources_)
        if (realpath(s.c_str(), in) && std::string(in) == out) return true;
    return false;
}

}  // namespace orvexcli
