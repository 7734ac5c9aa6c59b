// Helpers of the shapefile database tests: temporary folders, shape records
// built byte by byte (independently of the importer), shapefiles written
// with shapelib, rows written straight into SQLite, the error register and
// allocation failures.
#ifndef ORVEX_TESTS_DB_SUPPORT_H
#define ORVEX_TESTS_DB_SUPPORT_H

#include <string>
#include <vector>

#include "OrvexInternal.h"
#include "test_common.h"

typedef std::vector<unsigned char> DbBytes;

using DbTempDir = orvex_test::TempDir;

// Little-endian record content, then the record with its big-endian
// header (the length in 16-bit words computed from the content).
struct DbContent {
    DbBytes bytes;
    DbContent &i32(int v);
    DbContent &f64(double v);
};
DbBytes db_record(const DbContent &content, int number = 1);

struct DbXY {
    double x, y;
};

// A PolyLine/Polygon-family record (type 3, 5, 13, 15, 23, 25): box, counts,
// parts, points, and zero Z and M sections when the type has them.
DbBytes db_poly_record(int type, const std::vector<int> &parts, const std::vector<DbXY> &pts,
                       int number = 1);
DbBytes db_null_record(int number = 1);
DbBytes db_point_record(double x, double y, int number = 1);

// Creates a database with the schema through dbopen and stores each record
// as a row of "shapefile" through SQLite itself.
void db_write_rows(const std::string &db_path, const std::vector<DbBytes> &records);
// Runs SQL on a database file through SQLite itself.
void db_exec(const std::string &db_path, const std::string &sql);
// The first column of the first row of a query, as text ("" for none).
std::string db_query_text(const std::string &db_path, const std::string &sql);

// One shape for shapelib: parts (empty for none), coordinates, optional z/m.
struct DbShape {
    std::vector<int> parts;
    std::vector<double> x, y, z, m;
};
// Writes base.shp/.shx/.dbf of shape type `type` with shapelib; the .dbf
// gets the fields NAME (string), ID (integer), AREA (double) and OK
// (logical) filled from the shape's index, record 1 leaving them empty.
void db_write_shapefile(const std::string &base, int type, const std::vector<DbShape> &shapes);

// The messages of this thread's error register, oldest first.
inline std::vector<std::string> db_register() { return orvex_test::registered(); }

// Makes the n-th allocation of the library (counting from 1) fail, and
// counts them; restores the allocators when it goes.
class DbAllocFailure {
public:
    explicit DbAllocFailure(long fail_at);
    ~DbAllocFailure();
    static long calls();

private:
    void *(*saved_malloc_)(size_t);
    void *(*saved_realloc_)(void *, size_t);
};

#endif
