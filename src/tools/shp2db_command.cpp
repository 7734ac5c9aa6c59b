// orvex shp2db: shapefiles into a shapefile database, the input the map
// library reads polylines and polygons from.

#include "shp2db_command.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include <vector>

#include "atomic_output.h"
#include "gdal_io.h"
#include "hostkit.h"
#include "shapefile_crs.h"

namespace {

void usage(FILE *stream)
{
    fputs("usage: orvex shp2db [--help] [--layer NAME] [--where FILTER] IN... OUT.db\n"
          "\n"
          "Imports each shapefile (with its .shx and .dbf beside it) into the database\n"
          "OUT.db, creating it when missing: one row of table \"filename\" per file and\n"
          "one row of table \"shapefile\" per shape record, with the .dbf attributes as\n"
          "JSON. Each file is imported whole or not at all; a new OUT.db appears only\n"
          "when every file is in.\n"
          "\n"
          "Any other vector data GDAL reads (GeoPackage, GeoJSON, FlatGeobuf...) is\n"
          "imported through GDAL, as are shapefiles when --layer or --where is given:\n"
          "polygons and lines become records of the same form, reprojected to\n"
          "longitude/latitude (WGS 84); points, other geometries and empty ones are\n"
          "counted and left out. A shapefile whose .prj names anything but\n"
          "longitude/latitude on WGS 84 is read through GDAL too, and reprojected.\n"
          "  --layer NAME    the layer to read (default: the first)\n"
          "  --where FILTER  only the features matching this attribute filter (SQL)\n",
          stream);
}

void fail(const char *format, const char *arg)
{
    fprintf(stderr, "orvex shp2db: ");
    fprintf(stderr, format, arg);
    elog_print(stderr);
    elog_clear_register(0);
}

struct Request {
    std::vector<const char *> inputs;
    const char *out = nullptr;
    std::string layer, where;
};

bool ends_with(const char *s, const char *suffix)
{
    size_t n = strlen(s), k = strlen(suffix);
    return n >= k && strcmp(s + n - k, suffix) == 0;
}

// A shapefile without a .prj, or whose .prj names longitude and latitude on
// WGS 84, is read as it is; any other goes through GDAL, which reprojects.
bool lonlat_shapefile(const char *input)
{
    if (!ends_with(input, ".shp")) return true;
    FILE *f = fopen(orvextool::prj_path_for(input).c_str(), "rb");
    if (!f) return errno == ENOENT;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0 && text.size() < (1 << 20)) text.append(buf, n);
    bool failed = ferror(f) != 0;
    fclose(f);
    return !failed && orvextool::prj_is_lonlat_wgs84(text);
}

// Imports one input, through GDAL unless it is a shapefile read whole;
// the number of records, or -1.
long import_one(Dbptr db, const char *input, const Request &r)
{
    bool lonlat = lonlat_shapefile(input);
    if (ends_with(input, ".shp") && r.layer.empty() && r.where.empty() && lonlat) {
        long n = shp2db_import(db, input);
        if (n >= 0) printf("%s: %ld records\n", input, n);
        return n;
    }
    if (!orvexcli::gdal_built_in()) {
        if (!lonlat)
            orvex_register_error(0, "orvex shp2db: %s does not hold longitude/latitude on WGS 84 (see its .prj); "
                                    "reprojecting it needs GDAL.\n", input);
        orvex_register_error(0, "orvex shp2db: %s.\n", orvexcli::kNoGdal);
        return -1;
    }
    orvexcli::VectorCounts c;
    if (orvexcli::ogr_import(db, input, r.layer, r.where, &c) != 0) return -1;
    printf("%s: %ld records (%ld polygons, %ld lines); left out %ld points, %ld unsupported, %ld empty\n", input,
           c.polygons + c.lines, c.polygons, c.lines, c.points, c.unsupported, c.empty);
    return c.polygons + c.lines;
}

// Imports every input into the open database; stops at the first failure.
// Into a new database (`fresh`) a failure keeps nothing at all.
int import_all(Dbptr db, const Request &r, bool fresh)
{
    for (size_t i = 0; i < r.inputs.size(); i++) {
        if (import_one(db, r.inputs[i], r) < 0) {
            fail("cannot import %s:\n", r.inputs[i]);
            if (fresh) fprintf(stderr, "orvex shp2db: %s was not created.\n", r.out);
            else if (i > 0) fprintf(stderr, "orvex shp2db: the %zu file(s) before it were imported.\n", i);
            return 1;
        }
        orvexcli::test_checkpoint("imported" + std::to_string(i + 1));
    }
    return 0;
}

int import_into(const char *path, const Request &r, bool fresh)
{
    Dbptr db;
    if (dbopen(path, "r+", &db) < 0) {
        fail("cannot open %s:\n", r.out);
        return 1;
    }
    int status = import_all(db, r, fresh);
    dbclose(db);
    return status;
}

// A new database is built under a temporary name and appears only once
// every file is in; SQLite's rollback journal sits beside it meanwhile.
int import_into_new(const Request &r)
{
    orvexcli::AtomicOutput file(r.out, "-journal");
    if (!file.ready()) {
        fprintf(stderr, "orvex shp2db: cannot protect %s (name too long)\n", r.out);
        return 1;
    }
    if (int status = import_into(file.temp_path().c_str(), r, true)) return status;
    std::string why;
    if (file.commit(false, &why) != 0) {
        fprintf(stderr, "orvex shp2db: %s\n", why.c_str());
        return 1;
    }
    return 0;
}

// Reads the options and names; 0, or the exit status of a mistake.
int parse(int argc, char **argv, Request *r)
{
    for (int i = 1; i < argc; i++) {
        std::string *value = strcmp(argv[i], "--layer") == 0 ? &r->layer
                             : strcmp(argv[i], "--where") == 0 ? &r->where : nullptr;
        if (value && i + 1 < argc) {
            *value = argv[++i];
        } else if (argv[i][0] == '-') {
            fprintf(stderr, "orvex shp2db: %s %s\n", value ? "no value for" : "unknown option", argv[i]);
            usage(stderr);
            return 2;
        } else {
            r->inputs.push_back(argv[i]);
        }
    }
    if (r->inputs.size() < 2) {
        usage(stderr);
        return 2;
    }
    r->out = r->inputs.back();
    r->inputs.pop_back();
    return 0;
}

}  // namespace

int orvex_shp2db_command(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--help") == 0) {
            usage(stdout);
            return 0;
        }
    }
    Request r;
    if (int status = parse(argc, argv, &r)) return status;
    if (access(r.out, F_OK) == 0) return import_into(r.out, r, false);
    return import_into_new(r);
}
