#include "build_inputs.h"

#include <limits.h>
#include <stdlib.h>

#include "common.h"

namespace orvexcli {

BuildInputs::~BuildInputs()
{
    for (Entry &e : entries_) {
        e.object.reset(); /* the object goes before its database */
        if (e.has_db) dbclose(e.db);
    }
}

int BuildInputs::open_entry(const orvextool::PlannedResolution &planned)
{
    Entry e;
    e.source = planned.source;
    e.type = planned.type;
    e.object.reset(new Orvex());
    if (orvextool::is_database_source(planned)) {
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
        if (e.source == planned.source && e.type == planned.type) return e.object.get();
    return nullptr;
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
