// The host toolkit's shapefile database: opening, look-ups and queries,
// decoding shape records, importing shapefiles, and the shp2db command.

#include <dirent.h>
#include <gtest/gtest.h>
#include <math.h>
#include <shapefil.h>
#include <string.h>
#include <unistd.h>

#include "db_support.h"
#include "shp2db_command.h"

namespace {

class ShapeDatabase : public ::testing::Test {
protected:
    void SetUp() override { elog_clear_register(0); }
    void TearDown() override { elog_clear_register(0); }
    DbTempDir dir;
};

// ---- Opening, look-ups and queries ---------------------------------------

TEST_F(ShapeDatabase, ReadWriteOpenCreatesTheSchemaAndReadOnlyNeedsTheFile)
{
    std::string path = dir.file("new.db");
    Dbptr db;
    ASSERT_EQ(dbopen(path.c_str(), "r", &db), -1);
    EXPECT_EQ(db.database, dbINVALID);
    ASSERT_EQ(elog_count(), 1);
    EXPECT_EQ(std::string(elog_message(0)).rfind("dbopen: sqlite3_open_v2(" + path + ") error", 0), 0u);
    elog_clear_register(0);

    ASSERT_EQ(dbopen(path.c_str(), "r+", &db), 0);
    EXPECT_GE(db.database, 0);
    Dbptr shapes = dblookup(db, nullptr, "shapefile", nullptr, nullptr);
    Dbptr files = dblookup(db, nullptr, "filename", nullptr, nullptr);
    EXPECT_NE(shapes.table, dbINVALID);
    EXPECT_NE(files.table, dbINVALID);
    EXPECT_NE(shapes.table, files.table);
    EXPECT_EQ(shapes.record, dbALL);
    EXPECT_EQ(dblookup(db, nullptr, "roads", nullptr, nullptr).table, dbINVALID);
    EXPECT_EQ(dblookup(db, nullptr, "shapefile", nullptr, nullptr).table, shapes.table);

    char *name = nullptr;
    ASSERT_EQ(dbquery(db, dbDATABASE_FILENAME, &name), 0);
    EXPECT_EQ(std::string(name), path);
    long n = -1;
    ASSERT_EQ(dbquery(shapes, dbRECORD_COUNT, &n), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(elog_count(), 0);  // a missing table is an answer, not a failure
    ASSERT_EQ(dbclose(db), 0);

    // Opened read-only, the database it made keeps its schema.
    ASSERT_EQ(dbopen(path.c_str(), "r", &db), 0);
    EXPECT_NE(dblookup(db, nullptr, "filename", nullptr, nullptr).table, dbINVALID);
    EXPECT_EQ(dbclose(db), 0);
}

TEST_F(ShapeDatabase, BadArgumentsAndClosedDatabasesFailWithMessages)
{
    Dbptr db;
    EXPECT_EQ(dbopen(dir.file("x.db").c_str(), "w", &db), -1);
    EXPECT_EQ(dbopen(nullptr, "r", &db), -1);
    std::string junk = dir.file("junk.db");
    FILE *f = fopen(junk.c_str(), "w");
    fputs("this is no database, only some text that is long enough to have a header\n", f);
    fclose(f);
    EXPECT_EQ(dbopen(junk.c_str(), "r", &db), -1);
    std::vector<std::string> m = db_register();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0], "dbopen: mode w of " + dir.file("x.db") + " is neither \"r\" nor \"r+\".\n");
    EXPECT_EQ(m[1], "dbopen: no database file name.\n");
    EXPECT_EQ(m[2], "dbopen: " + junk + ": file is not a database.\n");
    elog_clear_register(0);

    ASSERT_EQ(dbopen(dir.file("y.db").c_str(), "r+", &db), 0);
    Dbptr shapes = dblookup(db, nullptr, "shapefile", nullptr, nullptr);
    long n;
    EXPECT_EQ(dbquery(shapes, 12, &n), -1);
    EXPECT_EQ(dbquery(db, dbRECORD_COUNT, &n), -1);  // no table designated
    ASSERT_EQ(dbclose(db), 0);
    EXPECT_EQ(dbclose(db), -1);
    char *name = reinterpret_cast<char *>(1);
    EXPECT_EQ(dbquery(db, dbDATABASE_FILENAME, &name), -1);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(dblookup(db, nullptr, "shapefile", nullptr, nullptr).table, dbINVALID);
    m = db_register();
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0], "dbquery: unknown code 12.\n");
    EXPECT_EQ(m[1], "dbquery: no table -102 in database " + dir.file("y.db") + ".\n");
    EXPECT_EQ(m[2], "dbclose: no open database " + std::to_string(db.database) + ".\n");
    EXPECT_EQ(m[3], "dbquery: no open database " + std::to_string(db.database) + ".\n");
}

// Row r is the r-th row in rowid order, also after rows were deleted and
// after another connection changed the table.
TEST_F(ShapeDatabase, RowsFollowTheTableAsItChanges)
{
    std::string path = dir.file("rows.db");
    db_write_rows(path, {db_point_record(1, 1, 1), db_point_record(2, 2, 2),
                         db_point_record(3, 3, 3), db_point_record(4, 4, 4)});
    Dbptr db;
    ASSERT_EQ(dbopen(path.c_str(), "r", &db), 0);
    Dbptr shapes = dblookup(db, nullptr, "shapefile", nullptr, nullptr);
    long n = 0;
    ASSERT_EQ(dbquery(shapes, dbRECORD_COUNT, &n), 0);
    EXPECT_EQ(n, 4);

    db_exec(path, "DELETE FROM shapefile WHERE record_number = 2;");
    ASSERT_EQ(dbquery(shapes, dbRECORD_COUNT, &n), 0);
    EXPECT_EQ(n, 3);
    double expected[] = {1, 3, 4};
    for (long r = 0; r < 3; r++) {
        shapes.record = r;
        ESRISHPRECStr rec = {};
        ASSERT_EQ(esri_get_db_shp_record(shapes, &rec), 0);
        EXPECT_EQ(rec.shape_type, 1);
        EXPECT_EQ(rec.offset, 100u);
        EXPECT_EQ(static_cast<ESRISHPPOINTStr *>(rec.record)->x, expected[r]);
        esri_free_shp_record(&rec);
        EXPECT_EQ(rec.record, nullptr);
    }
    shapes.record = 3;
    ESRISHPRECStr rec = {};
    EXPECT_EQ(esri_get_db_shp_record(shapes, &rec), -1);
    shapes.record = -1;
    EXPECT_EQ(esri_get_db_shp_record(shapes, &rec), -1);
    std::vector<std::string> m = db_register();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0], "esri_get_db_shp_record: row 3 is outside the 3 rows of table shapefile.\n");
    EXPECT_EQ(dbclose(db), 0);
}

// ---- Shape records --------------------------------------------------------

TEST_F(ShapeDatabase, PolygonRecordDecodesFromExactBytes)
{
    // Record 7: a Polygon of two parts, 5 and 4 points.
    std::vector<DbXY> pts = {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0},
                             {5, 5}, {5, 6}, {6, 6}, {5, 5}};
    DbBytes bytes = db_poly_record(5, {0, 5}, pts, 7);
    ASSERT_EQ(bytes.size(), 8u + 44 + 8 + 9 * 16);
    EXPECT_EQ(bytes[3], 7);     // big-endian record number
    EXPECT_EQ(bytes[7], 98);  // (44 + 8 + 144) / 2 words
    ESRISHPRECStr rec = {};
    ASSERT_EQ(esri_parse_shp_record(bytes.data(), static_cast<long>(bytes.size()), &rec), 0);
    EXPECT_EQ(rec.hdr.number, 7);
    EXPECT_EQ(rec.hdr.length, 98);
    EXPECT_EQ(rec.shape_type, 5);
    const ESRISHPRECPOLYGStr *p = static_cast<const ESRISHPRECPOLYGStr *>(rec.record);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->shape_type, 5);
    EXPECT_EQ(p->numparts, 2);
    EXPECT_EQ(p->numpoints, 9);
    EXPECT_EQ(p->parts[0], 0);
    EXPECT_EQ(p->parts[1], 5);
    EXPECT_EQ(p->bbox.xmin, 0);
    EXPECT_EQ(p->bbox.ymax, 6);
    EXPECT_EQ(p->points[6].x, 5);
    EXPECT_EQ(p->points[6].y, 6);
    esri_free_shp_record(&rec);
}

TEST_F(ShapeDatabase, EveryShapeFamilyDecodes)
{
    struct Case {
        DbBytes bytes;
        int type;
        int numpoints;  // -1: a point record, -2: no content record
    };
    DbContent point_z, point_m, multi, multi_z;
    point_z.i32(11).f64(3).f64(4).f64(9);          // z, no m
    point_m.i32(21).f64(3).f64(4).f64(-1e39);      // m
    multi.i32(8).f64(0).f64(0).f64(2).f64(2).i32(2).f64(0).f64(0).f64(2).f64(2);
    multi_z = multi;
    multi_z.bytes[0] = 18;
    multi_z.f64(0).f64(1).f64(0).f64(1);  // z range and values; m absent
    std::vector<DbXY> line = {{1, 2}, {3, 4}};
    std::vector<Case> cases = {
        {db_null_record(), 0, -2},
        {db_point_record(3, 4), 1, -1},
        {db_record(point_z), 11, -1},
        {db_record(point_m), 21, -1},
        {db_record(multi), 8, 2},
        {db_record(multi_z), 18, 2},
        {db_poly_record(3, {0}, line), 3, 2},
        {db_poly_record(13, {0}, line), 13, 2},
        {db_poly_record(23, {0}, line), 23, 2},
        {db_poly_record(15, {0}, line), 15, 2},
        {db_poly_record(25, {0}, line), 25, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        ESRISHPRECStr rec = {};
        ASSERT_EQ(esri_parse_shp_record(c.bytes.data(), static_cast<long>(c.bytes.size()), &rec), 0)
            << (elog_count() ? elog_message(0) : "");
        EXPECT_EQ(rec.shape_type, c.type);
        if (c.numpoints == -2) {
            EXPECT_EQ(rec.record, nullptr);
        } else if (c.numpoints == -1) {
            EXPECT_EQ(static_cast<ESRISHPPOINTStr *>(rec.record)->y, 4);
        } else {
            const ESRISHPRECPOLYGStr *p = static_cast<const ESRISHPRECPOLYGStr *>(rec.record);
            EXPECT_EQ(p->numpoints, c.numpoints);
            EXPECT_EQ(p->points[1].x, c.type == 8 || c.type == 18 ? 2 : 3);
        }
        esri_free_shp_record(&rec);
    }
}

TEST_F(ShapeDatabase, MalformedRecordsFailWithoutReadingPastThem)
{
    std::vector<DbXY> pts = {{0, 0}, {1, 1}, {2, 2}};
    DbBytes good = db_poly_record(3, {0, 2}, pts);
    auto with_int = [&](size_t at, int v) {
        DbBytes b = good;
        for (int i = 0; i < 4; i++) b[8 + at + i] = static_cast<unsigned char>(unsigned(v) >> (8 * i));
        return b;
    };
    DbBytes truncated(good.begin(), good.end() - 8);
    truncated[7] = static_cast<unsigned char>((truncated.size() - 8) / 2);  // header agrees
    DbContent unknown, multipatch, short_z;
    unknown.i32(7);
    multipatch.i32(31);
    DbBytes z = db_poly_record(13, {0}, pts);
    DbBytes z_cut(z.begin(), z.end() - 5 * 8 - 16 - 8);  // m gone and part of z
    z_cut[7] = static_cast<unsigned char>((z_cut.size() - 8) / 2);
    struct Case {
        const char *what;
        DbBytes bytes;
        std::string message;
    };
    std::vector<Case> cases = {
        {"header disagrees", DbBytes(good.begin(), good.end() - 2),
         "record header gives 100 bytes of content, the record holds 98."},
        {"points cut off", truncated, "PolyLine record needs 100 bytes of content, it holds 92."},
        {"negative parts", with_int(36, -1), "PolyLine record gives -1 parts and 3 points."},
        {"negative points", with_int(40, -3), "PolyLine record gives 2 parts and -3 points."},
        {"too many points", with_int(40, 1 << 30),
         "PolyLine record needs 17179869236 bytes of content, it holds 100."},
        {"too many parts", with_int(36, 0x7fffffff),
         "PolyLine record needs 8589934680 bytes of content, it holds 100."},
        {"part past the points", with_int(48, 4),
         "PolyLine part 1 starts at point 4, outside the 3 points or before the previous part."},
        {"parts out of order", with_int(44, 3),
         "PolyLine part 1 starts at point 2, outside the 3 points or before the previous part."},
        {"negative part", with_int(44, -1),
         "PolyLine part 0 starts at point -1, outside the 3 points or before the previous part."},
        {"z section cut", z_cut, "PolyLineZ record needs 136 bytes of content, it holds 112."},
        {"unknown type", db_record(unknown), "shape type 7 (unknown) is not supported."},
        {"multipatch", db_record(multipatch), "shape type 31 (MultiPatch) is not supported."},
        {"no type", DbBytes(good.begin(), good.begin() + 10),
         "record of 10 bytes is shorter than a header and a shape type."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        elog_clear_register(0);
        // A copy of exactly the record's size, so that the address sanitizer
        // catches any read past it.
        unsigned char *copy = static_cast<unsigned char *>(malloc(c.bytes.size()));
        memcpy(copy, c.bytes.data(), c.bytes.size());
        ESRISHPRECStr rec = {};
        EXPECT_EQ(esri_parse_shp_record(copy, static_cast<long>(c.bytes.size()), &rec), -1);
        EXPECT_EQ(rec.record, nullptr);
        ASSERT_EQ(elog_count(), 1);
        EXPECT_EQ(std::string(elog_message(0)), "esri_parse_shp_record: " + c.message + "\n");
        free(copy);
    }
}

// Every prefix of a record and every single damaged byte: decoding either
// succeeds within the bytes or fails with a message; it never crashes.
TEST_F(ShapeDatabase, DamagedBytesNeverCrashTheDecoder)
{
    DbBytes good = db_poly_record(15, {0, 2}, {{0, 0}, {1, 1}, {2, 2}, {3, 3}});
    for (size_t n = 0; n < good.size(); n++) {
        ESRISHPRECStr rec = {};
        unsigned char *copy = static_cast<unsigned char *>(malloc(n ? n : 1));
        memcpy(copy, good.data(), n);
        EXPECT_EQ(esri_parse_shp_record(copy, static_cast<long>(n), &rec), -1) << n;
        free(copy);
    }
    for (size_t at = 0; at < good.size(); at++) {
        for (unsigned char v : {0x00, 0x7f, 0x80, 0xff}) {
            DbBytes b = good;
            b[at] = v;
            ESRISHPRECStr rec = {};
            if (esri_parse_shp_record(b.data(), static_cast<long>(b.size()), &rec) == 0)
                esri_free_shp_record(&rec);
        }
    }
    elog_clear_register(0);
}

TEST_F(ShapeDatabase, MalformedRowNamesTheRow)
{
    std::string path = dir.file("bad.db");
    DbBytes bad = db_poly_record(5, {0, 9}, {{0, 0}, {1, 1}});
    db_write_rows(path, {db_null_record(1), bad});
    Dbptr db;
    ASSERT_EQ(dbopen(path.c_str(), "r", &db), 0);
    Dbptr shapes = dblookup(db, nullptr, "shapefile", nullptr, nullptr);
    shapes.record = 1;
    ESRISHPRECStr rec = {};
    EXPECT_EQ(esri_get_db_shp_record(shapes, &rec), -1);
    std::vector<std::string> m = db_register();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0],
              "esri_parse_shp_record: Polygon part 1 starts at point 9, outside the 2 points or "
              "before the previous part.\n");
    EXPECT_EQ(m[1], "esri_get_db_shp_record: row 1 of table shapefile holds a malformed shape "
                    "record.\n");
    EXPECT_EQ(dbclose(db), 0);
}

// ---- Importing ------------------------------------------------------------

TEST_F(ShapeDatabase, ImportKeepsRecordsAttributesAndTheFile)
{
    std::string base = dir.file("lakes");
    std::vector<DbShape> shapes = {
        {{0, 5}, {0, 0, 1, 1, 0, 5, 5, 6, 5}, {0, 1, 1, 0, 0, 5, 6, 6, 5}, {}, {}},
        {{0}, {10, 11, 11, 10}, {10, 10, 11, 10}, {}, {}},
    };
    db_write_shapefile(base, SHPT_POLYGON, shapes);
    std::string path = dir.file("lakes.db");
    Dbptr db;
    ASSERT_EQ(dbopen(path.c_str(), "r+", &db), 0);
    ASSERT_EQ(shp2db_import(db, (base + ".shp").c_str()), 2);

    EXPECT_EQ(db_query_text(path, "SELECT count(*) FROM filename"), "1");
    EXPECT_EQ(db_query_text(path, "SELECT path FROM filename"), base + ".shp");
    EXPECT_EQ(db_query_text(path, "SELECT shape_type || ' ' || nrecords FROM filename"), "5 2");
    EXPECT_EQ(db_query_text(path, "SELECT length(imported_at) FROM filename"), "20");
    EXPECT_EQ(db_query_text(path, "SELECT attributes FROM shapefile WHERE record_number = 1"),
              "{\"NAME\":\"shape 0\",\"ID\":0,\"AREA\":0.250,\"OK\":true}");
    EXPECT_EQ(db_query_text(path, "SELECT attributes FROM shapefile WHERE record_number = 2"),
              "{\"NAME\":null,\"ID\":null,\"AREA\":null,\"OK\":null}");
    EXPECT_EQ(db_query_text(path, "SELECT record_number FROM shapefile"
                                  " WHERE json_extract(attributes, '$.NAME') = 'shape 0'"),
              "1");
    // The first record of a .shp file lies after its 100-byte header.
    EXPECT_EQ(db_query_text(path, "SELECT shp_offset || ' ' || xmax FROM shapefile LIMIT 1"),
              "100 6.0");

    Dbptr rows = dblookup(db, nullptr, "shapefile", nullptr, nullptr);
    rows.record = 0;
    ESRISHPRECStr rec = {};
    ASSERT_EQ(esri_get_db_shp_record(rows, &rec), 0);
    EXPECT_EQ(rec.hdr.number, 1);
    EXPECT_EQ(rec.offset, 100u);
    const ESRISHPRECPOLYGStr *p = static_cast<const ESRISHPRECPOLYGStr *>(rec.record);
    ASSERT_EQ(p->numparts, 2);
    EXPECT_EQ(p->parts[1], 5);
    EXPECT_EQ(p->numpoints, 9);
    EXPECT_EQ(p->points[7].x, 6);
    EXPECT_EQ(p->points[7].y, 6);
    esri_free_shp_record(&rec);

    // A second import adds a second file to the same tables.
    ASSERT_EQ(shp2db_import(db, base.c_str()), 2);
    long n = 0;
    ASSERT_EQ(dbquery(rows, dbRECORD_COUNT, &n), 0);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(db_query_text(path, "SELECT max(filename_id) FROM shapefile"), "2");
    EXPECT_EQ(dbclose(db), 0);
}

TEST_F(ShapeDatabase, FailedImportLeavesTheDatabaseAsItWas)
{
    std::string base = dir.file("roads");
    db_write_shapefile(base, SHPT_ARC, {{{0}, {0, 1}, {0, 1}, {}, {}}, {{0}, {2, 3}, {2, 3}, {}, {}}});
    std::string path = dir.file("roads.db");
    Dbptr db;
    ASSERT_EQ(dbopen(path.c_str(), "r+", &db), 0);
    ASSERT_EQ(shp2db_import(db, base.c_str()), 2);

    // A .dbf of another length: refused before anything is written.
    std::string mixed = dir.file("mixed"), one = dir.file("one");
    db_write_shapefile(mixed, SHPT_ARC, {{{0}, {0, 1}, {0, 1}, {}, {}}, {{0}, {2, 3}, {2, 3}, {}, {}}});
    db_write_shapefile(one, SHPT_ARC, {{{0}, {0, 1}, {0, 1}, {}, {}}});
    ASSERT_EQ(rename((one + ".dbf").c_str(), (mixed + ".dbf").c_str()), 0);
    elog_clear_register(0);
    EXPECT_EQ(shp2db_import(db, (mixed + ".shp").c_str()), -1);
    std::vector<std::string> m = db_register();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0], "shp2db_import: " + mixed + ".shp holds 2 shapes but its .dbf holds 1 records.\n");

    // A table that refuses the second row: the first is rolled back too.
    db_exec(path, "CREATE TRIGGER no_second BEFORE INSERT ON shapefile"
                  " WHEN NEW.record_number = 2 BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    elog_clear_register(0);
    EXPECT_EQ(shp2db_import(db, base.c_str()), -1);
    m = db_register();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0], "shp2db_import: writing a shape row in " + path + ": refused.\n");
    EXPECT_EQ(m[1], "shp2db_import: nothing of " + base + " was imported into " + path + ".\n");
    EXPECT_EQ(db_query_text(path, "SELECT count(*) FROM shapefile"), "2");
    EXPECT_EQ(db_query_text(path, "SELECT count(*) FROM filename"), "1");
    EXPECT_EQ(dbclose(db), 0);

    // Read-only databases are refused.
    ASSERT_EQ(dbopen(path.c_str(), "r", &db), 0);
    elog_clear_register(0);
    EXPECT_EQ(shp2db_import(db, base.c_str()), -1);
    m = db_register();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0], "shp2db_import: database " + path + " is open read-only.\n");
    EXPECT_EQ(dbclose(db), 0);
}

// ---- The shp2db command -----------------------------------------------------

int run_shp2db(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    return orvex_shp2db_command(static_cast<int>(argv.size()), argv.data());
}

TEST_F(ShapeDatabase, Shp2dbCommand)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_shp2db({"shp2db", "--help"}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("usage: orvex shp2db", 0), 0u);

    testing::internal::CaptureStderr();
    EXPECT_EQ(run_shp2db({"shp2db", "only.db"}), 2);
    EXPECT_EQ(run_shp2db({"shp2db", "-x", "a.shp", "only.db"}), 2);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("unknown option -x"), std::string::npos);

    std::string a = dir.file("a"), b = dir.file("b"), out = dir.file("out.db");
    db_write_shapefile(a, SHPT_POINT, {{{}, {1}, {2}, {}, {}}, {{}, {3}, {4}, {}, {}}});
    db_write_shapefile(b, SHPT_ARC, {{{0}, {0, 1}, {0, 1}, {}, {}}});
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_shp2db({"shp2db", a + ".shp", b + ".shp", out}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              a + ".shp: 2 records\n" + b + ".shp: 1 records\n");
    EXPECT_EQ(db_query_text(out, "SELECT count(*) FROM shapefile"), "3");

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_shp2db({"shp2db", a + ".shp", dir.file("missing.shp"), out}), 1);
    testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot import " + dir.file("missing.shp")), std::string::npos);
    EXPECT_NE(err.find("shp2db_import: SHPOpen(" + dir.file("missing.shp") + ") error.\n"),
              std::string::npos);
    EXPECT_NE(err.find("the 1 file(s) before it were imported"), std::string::npos);
    EXPECT_EQ(db_query_text(out, "SELECT count(*) FROM shapefile"), "5");
    EXPECT_EQ(elog_count(), 0);  // the command empties the register it printed

    // A failure into a database the command would create leaves nothing,
    // not even the files imported before it.
    std::string fresh = dir.file("fresh.db");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_shp2db({"shp2db", a + ".shp", dir.file("missing.shp"), fresh}), 1);
    testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(fresh + " was not created"), std::string::npos) << err;
    EXPECT_NE(access(fresh.c_str(), F_OK), 0);
    DIR *folder = opendir(dir.path().c_str());
    ASSERT_NE(folder, nullptr);
    while (struct dirent *e = readdir(folder)) EXPECT_EQ(strstr(e->d_name, ".tmp-"), nullptr) << e->d_name;
    closedir(folder);
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_shp2db({"shp2db", a + ".shp", fresh}), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(db_query_text(fresh, "SELECT count(*) FROM shapefile"), "2");
}

}  // namespace
