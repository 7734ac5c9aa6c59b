// Helpers of the shapefile database tests.

#include "db_support.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <shapefil.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <string.h>

namespace {

long alloc_calls = 0;
long alloc_fail_at = 0;

bool alloc_should_fail()
{
    alloc_calls++;
    if (alloc_calls == alloc_fail_at) {
        errno = ENOMEM;
        return true;
    }
    return false;
}

void *failing_malloc(size_t n)
{
    return alloc_should_fail() ? nullptr : malloc(n);
}

void *failing_realloc(void *p, size_t n)
{
    return alloc_should_fail() ? nullptr : realloc(p, n);
}

void fill_box(DbContent &c, const std::vector<DbXY> &pts)
{
    double box[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < pts.size(); i++) {
        if (i == 0 || pts[i].x < box[0]) box[0] = pts[i].x;
        if (i == 0 || pts[i].y < box[1]) box[1] = pts[i].y;
        if (i == 0 || pts[i].x > box[2]) box[2] = pts[i].x;
        if (i == 0 || pts[i].y > box[3]) box[3] = pts[i].y;
    }
    for (double v : box) c.f64(v);
}

}  // namespace

DbContent &DbContent::i32(int v)
{
    for (int i = 0; i < 4; i++) bytes.push_back(static_cast<unsigned char>(unsigned(v) >> (8 * i)));
    return *this;
}

DbContent &DbContent::f64(double v)
{
    unsigned char b[8];
    memcpy(b, &v, 8);  // the test machines are little-endian
    bytes.insert(bytes.end(), b, b + 8);
    return *this;
}

DbBytes db_record(const DbContent &content, int number)
{
    DbBytes r;
    unsigned words = static_cast<unsigned>(content.bytes.size() / 2);
    for (unsigned v : {static_cast<unsigned>(number), words})
        for (int i = 3; i >= 0; i--) r.push_back(static_cast<unsigned char>(v >> (8 * i)));
    r.insert(r.end(), content.bytes.begin(), content.bytes.end());
    return r;
}

DbBytes db_poly_record(int type, const std::vector<int> &parts, const std::vector<DbXY> &pts,
                       int number)
{
    DbContent c;
    c.i32(type);
    fill_box(c, pts);
    c.i32(static_cast<int>(parts.size())).i32(static_cast<int>(pts.size()));
    for (int p : parts) c.i32(p);
    for (const DbXY &p : pts) c.f64(p.x).f64(p.y);
    bool z = type == 13 || type == 15, m = z || type == 23 || type == 25;
    for (int section = 0; section < int(z) + int(m); section++) {
        c.f64(0).f64(0);
        for (size_t i = 0; i < pts.size(); i++) c.f64(0);
    }
    return db_record(c, number);
}

DbBytes db_null_record(int number)
{
    DbContent c;
    c.i32(0);
    return db_record(c, number);
}

DbBytes db_point_record(double x, double y, int number)
{
    DbContent c;
    c.i32(1).f64(x).f64(y);
    return db_record(c, number);
}

void db_exec(const std::string &db_path, const std::string &sql)
{
    sqlite3 *h = nullptr;
    ASSERT_EQ(sqlite3_open(db_path.c_str(), &h), SQLITE_OK);
    char *err = nullptr;
    EXPECT_EQ(sqlite3_exec(h, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(h);
}

std::string db_query_text(const std::string &db_path, const std::string &sql)
{
    sqlite3 *h = nullptr;
    std::string result;
    if (sqlite3_open_v2(db_path.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(h, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0))
            result = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
        else
            ADD_FAILURE() << sql << ": " << sqlite3_errmsg(h);
        sqlite3_finalize(stmt);
    }
    sqlite3_close(h);
    return result;
}

void db_write_rows(const std::string &db_path, const std::vector<DbBytes> &records)
{
    Dbptr db;
    ASSERT_EQ(dbopen(db_path.c_str(), "r+", &db), 0);
    ASSERT_EQ(dbclose(db), 0);
    sqlite3 *h = nullptr;
    ASSERT_EQ(sqlite3_open(db_path.c_str(), &h), SQLITE_OK);
    sqlite3_exec(h, "BEGIN; INSERT INTO filename (path, imported_at, shape_type, nrecords)"
                    " VALUES ('test.shp', '2024-01-01T00:00:00Z', 5, 0);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(h,
                       "INSERT INTO shapefile (filename_id, record_number, shape_type, shp_offset,"
                       " shape) VALUES (1, ?1, 0, 100, ?2);",
                       -1, &stmt, nullptr);
    for (size_t i = 0; i < records.size(); i++) {
        sqlite3_bind_int(stmt, 1, static_cast<int>(i + 1));
        sqlite3_bind_blob(stmt, 2, records[i].data(), static_cast<int>(records[i].size()),
                          SQLITE_STATIC);
        EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    sqlite3_exec(h, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(h);
}

void db_write_shapefile(const std::string &base, int type, const std::vector<DbShape> &shapes)
{
    SHPHandle shp = SHPCreate(base.c_str(), type);
    DBFHandle dbf = DBFCreate(base.c_str());
    ASSERT_TRUE(shp && dbf);
    DBFAddField(dbf, "NAME", FTString, 16, 0);
    DBFAddField(dbf, "ID", FTInteger, 9, 0);
    DBFAddField(dbf, "AREA", FTDouble, 12, 3);
    DBFAddField(dbf, "OK", FTLogical, 1, 0);
    for (size_t i = 0; i < shapes.size(); i++) {
        const DbShape &s = shapes[i];
        int n = static_cast<int>(s.x.size());
        SHPObject *o = SHPCreateObject(type, -1, static_cast<int>(s.parts.size()),
                                       s.parts.empty() ? nullptr : s.parts.data(), nullptr, n,
                                       s.x.data(), s.y.data(), s.z.empty() ? nullptr : s.z.data(),
                                       s.m.empty() ? nullptr : s.m.data());
        int id = SHPWriteObject(shp, -1, o);
        SHPDestroyObject(o);
        ASSERT_EQ(id, static_cast<int>(i));
        if (i == 1) {
            for (int f = 0; f < 4; f++) DBFWriteNULLAttribute(dbf, id, f);
            continue;
        }
        std::string name = "shape " + std::to_string(i);
        DBFWriteStringAttribute(dbf, id, 0, name.c_str());
        DBFWriteIntegerAttribute(dbf, id, 1, static_cast<int>(i) * 10);
        DBFWriteDoubleAttribute(dbf, id, 2, static_cast<double>(i) + 0.25);
        DBFWriteLogicalAttribute(dbf, id, 3, i % 2 ? 'F' : 'T');
    }
    SHPClose(shp);
    DBFClose(dbf);
}

DbAllocFailure::DbAllocFailure(long fail_at)
    : saved_malloc_(orvex_sys_malloc), saved_realloc_(orvex_sys_realloc)
{
    alloc_calls = 0;
    alloc_fail_at = fail_at;
    orvex_sys_malloc = failing_malloc;
    orvex_sys_realloc = failing_realloc;
}

DbAllocFailure::~DbAllocFailure()
{
    orvex_sys_malloc = saved_malloc_;
    orvex_sys_realloc = saved_realloc_;
    alloc_fail_at = 0;
}

long DbAllocFailure::calls()
{
    return alloc_calls;
}
