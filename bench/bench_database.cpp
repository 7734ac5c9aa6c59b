// Import and scan rates of the shapefile database at growing row counts:
// the rows per second should stay about level, since importing appends and
// reading row r costs a rowid look-up, not a walk over the rows before it.
//
//   bench_database [rows...]     (default: 10000 30000 100000)

#include <shapefil.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "OrvexInternal.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// n polylines of 4 points with one integer attribute each.
bool write_shapefile(const std::string &base, long n)
{
    SHPHandle shp = SHPCreate(base.c_str(), SHPT_ARC);
    DBFHandle dbf = DBFCreate(base.c_str());
    if (!shp || !dbf) return false;
    DBFAddField(dbf, "ID", FTInteger, 9, 0);
    for (long i = 0; i < n; i++) {
        double x0 = -170.0 + static_cast<double>(i % 340), y0 = -80.0 + static_cast<double>(i % 160);
        double x[4] = {x0, x0 + 0.5, x0 + 0.5, x0};
        double y[4] = {y0, y0, y0 + 0.5, y0 + 0.7};
        SHPObject *obj = SHPCreateSimpleObject(SHPT_ARC, 4, x, y, nullptr);
        SHPWriteObject(shp, -1, obj);
        SHPDestroyObject(obj);
        DBFWriteIntegerAttribute(dbf, static_cast<int>(i), 0, static_cast<int>(i));
    }
    SHPClose(shp);
    DBFClose(dbf);
    return true;
}

void remove_files(const std::string &base)
{
    for (const char *suffix : {".shp", ".shx", ".dbf", ".db"}) unlink((base + suffix).c_str());
}

int run(const std::string &dir, long n)
{
    std::string base = dir + "/rows" + std::to_string(n);
    if (!write_shapefile(base, n)) return -1;
    std::string path = base + ".db";
    Dbptr db;
    if (dbopen(path.c_str(), "r+", &db) < 0) return -1;

    auto start = std::chrono::steady_clock::now();
    long imported = shp2db_import(db, base.c_str());
    double import_s = seconds_since(start);

    Dbptr shapes = dblookup(db, nullptr, "shapefile", nullptr, nullptr);
    double scan_s = 0;
    int rc = -1;
    {
        Orvex o;
        start = std::chrono::steady_clock::now();
        rc = o.setInput(shapes);
        scan_s = seconds_since(start);
    }
    dbclose(db);
    remove_files(base);
    if (imported != n || rc < 0) {
        elog_print(stderr);
        return -1;
    }
    printf("%8ld rows  import %7.3f s %10.0f rows/s   scan %7.3f s %10.0f rows/s\n", n, import_s,
           n / import_s, scan_s, n / scan_s);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<long> counts;
    for (int i = 1; i < argc; i++) counts.push_back(atol(argv[i]));
    if (counts.empty()) counts = {10000, 30000, 100000};
    char tmpl[] = "/tmp/orvex_bench_db_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    int status = 0;
    for (long n : counts)
        if (n > 0 && run(tmpl, n) < 0) status = 1;
    rmdir(tmpl);
    return status;
}
