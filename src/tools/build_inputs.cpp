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

int BuildInputs::open_entry(const orvextool::ResolutionSpec &spec)
{
    Entry e;
    e.source = spec.source;
    e.type = spec.type;
    e.object.reset(new Orvex());
    if (orvextool::is_database_source(spec)) {
        Dbptr db;
        if (dbopen(spec.source.c_str(), "r", &db) != 0)
            return fail("build", "cannot open shapefile database '" + spec.source + "'");
        e.db = db;
        e.has_db = true;
        Dbptr table = dblookup(db, nullptr, "shapefile", nullptr, nullptr);
        if (e.object->setInput(table) != 0) {
            dbclose(db);
            return fail("build", "cannot read shapefile database '" + spec.source + "'");
        }
    } else if (e.object->setInput(local_name(spec.source).c_str(), 0, spec.type.empty() ? nullptr : spec.type.c_str()) != 0) {
        return fail("build", "cannot open input '" + spec.source + "'");
    }
    entries_.push_back(std::move(e));
    return 0;
}

int BuildInputs::open_all(const orvextool::BuildPlan &plan)
{
    for (const orvextool::ResolutionSpec &spec : plan.resolutions) {
        sources_.push_back(spec.source);
        if (get(spec)) continue;
        if (open_entry(spec) != 0) return 1;
    }
    return 0;
}

Orvex *BuildInputs::get(const orvextool::ResolutionSpec &spec)
{
    for (Entry &e : entries_)
        if (e.source == spec.source && e.type == spec.type) return e.object.get();
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
