// Shapefile tables as an input: one part of a record into segment points,
// the whole scan of a table, its failures and message chains, and the road
// from shapefiles written by shapelib to segments.

#include <gtest/gtest.h>
#include <math.h>
#include <shapefil.h>

#include "db_support.h"

namespace {

// ---- One part of a record -------------------------------------------------

struct HandRecord {
    std::vector<int> parts;
    std::vector<ESRISHPPOINTStr> pts;
    ESRISHPRECPOLYGStr polyg = {};
    ESRISHPRECStr rec = {};

    HandRecord(int type, std::vector<int> p, std::vector<ESRISHPPOINTStr> xy)
        : parts(std::move(p)), pts(std::move(xy))
    {
        polyg.shape_type = type;
        polyg.numparts = static_cast<int>(parts.size());
        polyg.numpoints = static_cast<int>(pts.size());
        polyg.parts = parts.data();
        polyg.points = pts.data();
        rec.shape_type = type;
        rec.record = &polyg;
    }
};

struct PartScan {
    int rc = 0, fill = -1, npts = -1;
    OrvexXY *points = nullptr;
    long nave = 0;
    double dave = 0;
    int latmin = 0, latmax = 0, lonmin = 0, lonmax = 0;

    int run(Orvex &o, ESRISHPRECStr *rec, int part)
    {
        free(points);
        points = nullptr;
        rc = o.scanESRIREC(rec, part, &fill, &npts, &points, &nave, &dave, &latmin, &latmax, &lonmin,
                           &lonmax);
        return rc;
    }
    ~PartScan() { free(points); }
};

class EsriInput : public ::testing::Test {
protected:
    void SetUp() override { elog_clear_register(0); }
    void TearDown() override { elog_clear_register(0); }
    DbTempDir dir;
};

TEST_F(EsriInput, PolygonOfTwoPartsGivesFiveAndFourPoints)
{
    HandRecord h(5, {0, 5},
                 {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}, {5, 5}, {5, 6}, {6, 6}, {5, 5}});
    Orvex o;
    PartScan s;
    ASSERT_EQ(s.run(o, &h.rec, 0), 0);
    EXPECT_EQ(s.fill, 1);
    EXPECT_EQ(s.npts, 5);
    EXPECT_EQ(s.points[2].lon_microdegrees, 1000000);
    EXPECT_EQ(s.lonmax, 1000000);
    EXPECT_EQ(s.nave, 4);
    ASSERT_EQ(s.run(o, &h.rec, 1), 0);
    EXPECT_EQ(s.npts, 4);
    EXPECT_EQ(s.points[0].lat_microdegrees, 5000000);
    EXPECT_EQ(s.latmin, 5000000);
    EXPECT_EQ(s.latmax, 6000000);
    EXPECT_EQ(s.nave, 7);
    EXPECT_NEAR(s.dave, 4 + 1 + 1 + sqrt(2.0), 0.05);  // about a degree a side
    EXPECT_EQ(s.run(o, &h.rec, 2), 1);
    EXPECT_EQ(s.npts, 0);
}

TEST_F(EsriInput, HalvesRoundAwayFromZero)
{
    HandRecord h(3, {0}, {{0.0000015, -0.0000015}, {-0.0000006, 0.0000004}, {-0.0000015, 0.0000015}});
    Orvex o;
    PartScan s;
    ASSERT_EQ(s.run(o, &h.rec, 0), 0);
    EXPECT_EQ(s.fill, 0);
    EXPECT_EQ(s.points[0].lon_microdegrees, 2);
    EXPECT_EQ(s.points[0].lat_microdegrees, -2);
    EXPECT_EQ(s.points[1].lon_microdegrees, -1);
    EXPECT_EQ(s.points[1].lat_microdegrees, 0);
    EXPECT_EQ(s.points[2].lon_microdegrees, -2);
    EXPECT_EQ(s.lonmin, -2);
    EXPECT_EQ(s.lonmax, 2);
}

TEST_F(EsriInput, DatelineCrossingUnwrapsTheBoxOnly)
{
    HandRecord h(3, {0}, {{179.5, 0}, {-179.5, 0}});
    Orvex o;
    PartScan s;
    ASSERT_EQ(s.run(o, &h.rec, 0), 0);
    EXPECT_EQ(s.points[0].lon_microdegrees, 179500000);
    EXPECT_EQ(s.points[1].lon_microdegrees, -179500000);
    EXPECT_EQ(s.lonmin, 179500000);
    EXPECT_EQ(s.lonmax, 180500000);
    EXPECT_EQ(s.nave, 1);
    EXPECT_NEAR(s.dave, 1.0, 1e-9);
}

TEST_F(EsriInput, ShapeTypesPartsAndTheirEdges)
{
    Orvex o;
    PartScan s;
    ESRISHPPOINTStr pt = {1, 2};
    ESRISHPRECStr point = {};
    point.shape_type = 1;
    point.record = &pt;
    EXPECT_EQ(s.run(o, &point, 0), 1);
    EXPECT_EQ(s.npts, 0);
    ESRISHPRECStr null_shape = {};
    EXPECT_EQ(s.run(o, &null_shape, 0), 1);
    HandRecord multipoint(8, {}, {{1, 2}, {3, 4}});
    EXPECT_EQ(s.run(o, &multipoint.rec, 0), 1);

    // The Z and M forms are lines and areas like their plain forms.
    for (int type : {13, 23, 15, 25}) {
        HandRecord h(type, {0}, {{1, 2}, {3, 4}});
        ASSERT_EQ(s.run(o, &h.rec, 0), 0) << type;
        EXPECT_EQ(s.fill, type == 13 || type == 23 ? 0 : 1);
        EXPECT_EQ(s.npts, 2);
    }

    // An empty part: no points, and the next part is still there.
    HandRecord empty(5, {0, 0, 2}, {{1, 2}, {3, 4}, {5, 6}});
    ASSERT_EQ(s.run(o, &empty.rec, 0), 0);
    EXPECT_EQ(s.npts, 0);
    EXPECT_EQ(s.points, nullptr);
    ASSERT_EQ(s.run(o, &empty.rec, 1), 0);
    EXPECT_EQ(s.npts, 2);
    ASSERT_EQ(s.run(o, &empty.rec, 2), 0);
    EXPECT_EQ(s.npts, 1);
    EXPECT_EQ(s.points[0].lat_microdegrees, 6000000);
    EXPECT_EQ(elog_count(), 0);
}

TEST_F(EsriInput, CoordinatesBeyond32BitsAndBrokenPartsAreRefused)
{
    Orvex o;
    PartScan s;
    // The extremes that still fit are kept.
    HandRecord edge(3, {0}, {{2147.483647, -2147.483648}, {2147, -2147}});
    ASSERT_EQ(s.run(o, &edge.rec, 0), 0);
    EXPECT_EQ(s.points[0].lon_microdegrees, 2147483647);
    EXPECT_EQ(s.points[0].lat_microdegrees, -2147483647 - 1);

    HandRecord wide(3, {0}, {{0, 0}, {2147.4836475, 1}});
    HandRecord nan_lat(3, {0}, {{0, NAN}});
    HandRecord order(3, {0, 3, 1}, {{0, 0}, {1, 1}, {2, 2}, {3, 3}});
    HandRecord past(3, {0, 5}, {{0, 0}, {1, 1}});
    EXPECT_EQ(s.run(o, &wide.rec, 0), -1);
    EXPECT_EQ(s.points, nullptr);
    EXPECT_EQ(s.run(o, &nan_lat.rec, 0), -1);
    EXPECT_EQ(s.run(o, &order.rec, 1), -1);
    EXPECT_EQ(s.run(o, &past.rec, 1), -1);
    std::vector<std::string> m = db_register();
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0], "Orvex::scanESRIREC: point 1 (2147.48, 1) does not fit 32-bit microdegrees.\n");
    EXPECT_EQ(m[1], "Orvex::scanESRIREC: point 0 (0, nan) does not fit 32-bit microdegrees.\n");
    EXPECT_EQ(m[2], "Orvex::scanESRIREC: part 1 runs from point 3 to 1, outside the 4 points of "
                    "the record.\n");
    EXPECT_EQ(m[3], "Orvex::scanESRIREC: part 1 runs from point 5 to 2, outside the 2 points of "
                    "the record.\n");
}

TEST_F(EsriInput, PointArrayAllocationFailureIsRegistered)
{
    HandRecord h(3, {0}, {{0, 0}, {1, 1}});
    Orvex o;
    PartScan s;
    {
        DbAllocFailure fail(1);
        EXPECT_EQ(s.run(o, &h.rec, 0), -1);
    }
    ASSERT_EQ(elog_count(), 1);
    EXPECT_EQ(std::string(elog_message(0)).rfind("Orvex::scanESRIREC: malloc(OrvexXY) error.", 0), 0u);
}

// ---- The scan of a table ----------------------------------------------------

// Opens the shape table of a database file for reading.
Dbptr open_shapes(const std::string &path)
{
    Dbptr db;
    EXPECT_EQ(dbopen(path.c_str(), "r", &db), 0);
    return dblookup(db, nullptr, "shapefile", nullptr, nullptr);
}

const OrvexVectorTile &only_tile(const Orvex &o)
{
    return *static_cast<const OrvexVector *>(o.frame.resolutions[0].data)->tiles;
}

TEST_F(EsriInput, TableScanBuildsOneVectorTile)
{
    std::string path = dir.file("mixed.db");
    db_write_rows(path, {
        db_poly_record(5, {0, 5}, {{-10, -5}, {-10, 5}, {0, 5}, {0, -5}, {-10, -5},
                                   {20, 30}, {40, 30}, {40, 60}, {20, 30}}),
        db_point_record(100, 80),
        db_null_record(),
        db_poly_record(3, {0, 0, 0}, {{1, 1}, {2, 2}}),
    });
    Dbptr shapes = open_shapes(path);
    Orvex o;
    ASSERT_EQ(o.setInput(shapes), 0) << (elog_count() ? elog_message(0) : "");
    EXPECT_EQ(o.db.record, 4);
    EXPECT_EQ(o.db.table, shapes.table);
    EXPECT_EQ(std::string(o.dbname), path);
    ASSERT_EQ(o.frame.nresolutions, 1);
    const OrvexResolution &r = o.frame.resolutions[0];
    EXPECT_EQ(std::string(r.source.fname), path);
    EXPECT_EQ(r.data_type, 5);
    EXPECT_EQ(r.map_type, 1);
    EXPECT_EQ(r.source.data_type, 5);
    EXPECT_EQ(r.source.map_type, 1);
    EXPECT_EQ(r.source.nlon, 1);
    EXPECT_EQ(r.source.nlat, 1);
    EXPECT_DOUBLE_EQ(r.source.lon_start, -10);
    EXPECT_DOUBLE_EQ(r.source.dlon, 50);
    EXPECT_DOUBLE_EQ(r.source.lat_start, -5);
    EXPECT_DOUBLE_EQ(r.source.dlat, 65);
    EXPECT_EQ(r.lon_start_tiles, -180.0);
    EXPECT_EQ(r.dlon_tiles, 360.0);
    EXPECT_EQ(r.lat_start_tiles, 90.0);
    EXPECT_EQ(r.dlat_tiles, -180.0);
    EXPECT_EQ(r.ntiles, 1);
    EXPECT_EQ(r.name[0], '\0');
    const OrvexVector &v = *static_cast<const OrvexVector *>(r.data);
    EXPECT_DOUBLE_EQ(v.lonmin, -10);
    EXPECT_DOUBLE_EQ(v.lonmax, 40);
    EXPECT_DOUBLE_EQ(v.latmin, -5);
    EXPECT_DOUBLE_EQ(v.latmax, 60);
    const OrvexVectorTile &t = only_tile(o);
    EXPECT_DOUBLE_EQ(t.lonmin, -10);
    EXPECT_DOUBLE_EQ(t.lonmax, 40);
    EXPECT_DOUBLE_EQ(t.latmin, -5);
    EXPECT_DOUBLE_EQ(t.latmax, 60);
    EXPECT_EQ(t.fill, 0);
    ASSERT_EQ(t.nsegments, 3);
    const long npts[] = {5, 4, 2};
    const int fill[] = {1, 1, 0};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(t.segments[i].level, 4);
        EXPECT_EQ(t.segments[i].fill, fill[i]);
        EXPECT_EQ(t.segments[i].npts, npts[i]);
    }
    EXPECT_EQ(t.segments[1].lonmin, 20000000);
    EXPECT_EQ(t.segments[1].latmax, 60000000);
    EXPECT_EQ(t.segments[2].pts[1].lat_microdegrees, 2000000);
    EXPECT_GT(r.degrees_per_pixel, 0.0);
    EXPECT_EQ(elog_count(), 0);
    dbclose(shapes);
}

TEST_F(EsriInput, NoConsecutivePointsGivesZeroSpacing)
{
    std::string path = dir.file("single.db");
    db_write_rows(path, {db_poly_record(3, {0}, {{1, 1}}), db_poly_record(3, {0}, {{2, 2}})});
    Dbptr shapes = open_shapes(path);
    Orvex o;
    ASSERT_EQ(o.setInput(shapes), 0);
    EXPECT_EQ(only_tile(o).nsegments, 2);
    EXPECT_EQ(o.frame.resolutions[0].degrees_per_pixel, 0.0);
    dbclose(shapes);
}

TEST_F(EsriInput, SchemaChecksAndTheirMessageChains)
{
    Orvex o;
    EXPECT_EQ(o.setInput(dbinvalid()), -1);
    std::vector<std::string> m = db_register();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0], "dbquery: no open database -102.\n");
    EXPECT_EQ(m[1], "Orvex::checkInputDb: no database file name.\n");
    EXPECT_EQ(m[2], "Orvex::setInput: Orvex::checkInputDb() error.\n");

    std::string path = dir.file("foreign.db");
    db_exec(path, "CREATE TABLE filename (id INTEGER);");
    Dbptr db;
    ASSERT_EQ(dbopen(path.c_str(), "r", &db), 0);
    elog_clear_register(0);
    EXPECT_EQ(o.setInput(db), -1);
    m = db_register();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0], "Orvex::checkInputDb: no shapefile table in schema.\n");
    EXPECT_EQ(m[1], "Orvex::setInput: Orvex::checkInputDb() error.\n");
    dbclose(db);

    db_exec(path, "DROP TABLE filename; CREATE TABLE shapefile (id INTEGER);");
    ASSERT_EQ(dbopen(path.c_str(), "r", &db), 0);
    elog_clear_register(0);
    char *name = nullptr;
    EXPECT_EQ(Orvex::checkInputDb(db, &name), -1);
    EXPECT_EQ(std::string(name), path);
    m = db_register();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0], "Orvex::checkInputDb: no filename table in schema.\n");
    EXPECT_EQ(o.dbname, nullptr);
    EXPECT_EQ(o.db.database, dbINVALID);
    dbclose(db);
}

TEST_F(EsriInput, FailedScansCloseTheInputAgain)
{
    std::string empty = dir.file("empty.db");
    db_write_rows(empty, {});
    Dbptr shapes = open_shapes(empty);
    Orvex o;
    EXPECT_EQ(o.setInput(shapes), -1);
    std::vector<std::string> m = db_register();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0], "Orvex::scanInput: No ESRI data points.\n");
    EXPECT_EQ(m[1], "Orvex::setInput: scanInput(" + empty + ") error.\n");
    EXPECT_EQ(o.dbname, nullptr);
    EXPECT_EQ(o.db.table, dbINVALID);
    dbclose(shapes);

    std::string bad = dir.file("bad.db");
    db_write_rows(bad, {db_poly_record(3, {0}, {{1, 1}, {2, 2}}),
                        db_poly_record(3, {0}, {{1, 1}, {3000, 2}})});
    shapes = open_shapes(bad);
    elog_clear_register(0);
    EXPECT_EQ(o.setInput(shapes), -1);
    m = db_register();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0], "Orvex::scanESRIREC: point 1 (3000, 2) does not fit 32-bit microdegrees.\n");
    EXPECT_EQ(m[1], "Orvex::setInput: scanInput(" + bad + ") error.\n");
    // The frame keeps what the scan attached, for teardown.
    EXPECT_EQ(o.frame.nresolutions, 1);
    EXPECT_EQ(only_tile(o).nsegments, 1);
    dbclose(shapes);

    std::string damaged = dir.file("damaged.db");
    db_write_rows(damaged, {db_null_record(), DbBytes(10, 0)});
    shapes = open_shapes(damaged);
    elog_clear_register(0);
    EXPECT_EQ(o.setInput(shapes), -1);
    m = db_register();
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[1], "esri_get_db_shp_record: row 1 of table shapefile holds a malformed shape "
                    "record.\n");
    EXPECT_EQ(m[2], "Orvex::scanInput: esri_get_db_shp_record() error.\n");
    EXPECT_EQ(m[3], "Orvex::setInput: scanInput(" + damaged + ") error.\n");
    dbclose(shapes);

    // The same object opens a sound table afterwards.
    std::string good = dir.file("good.db");
    db_write_rows(good, {db_poly_record(3, {0}, {{1, 1}, {2, 2}})});
    shapes = open_shapes(good);
    ASSERT_EQ(o.setInput(shapes), 0);
    EXPECT_EQ(only_tile(o).nsegments, 1);
    dbclose(shapes);
}

TEST_F(EsriInput, SecondInputsAreRefused)
{
    std::string path = dir.file("one.db");
    db_write_rows(path, {db_poly_record(5, {0}, {{0, 0}, {1, 0}, {1, 1}, {0, 0}})});
    Dbptr shapes = open_shapes(path);
    Orvex o;
    ASSERT_EQ(o.setInput(shapes), 0);
    EXPECT_EQ(o.setInput(shapes), -1);
    ASSERT_EQ(elog_count(), 1);
    EXPECT_EQ(std::string(elog_message(0)), "Orvex::setInput: database(" + path + ") already open.\n");
    EXPECT_EQ(only_tile(o).nsegments, 1);
    EXPECT_EQ(std::string(o.dbname), path);

    // An object that already holds a file keeps it.
    Orvex out;
    std::string orx = dir.file("out.orx");
    ASSERT_EQ(out.setOutput(orx.c_str()), 0);
    elog_clear_register(0);
    EXPECT_EQ(out.setInput(shapes), -1);
    ASSERT_EQ(elog_count(), 1);
    EXPECT_EQ(std::string(elog_message(0)), "Orvex::setInput: file(" + orx + ") already open.\n");
    EXPECT_EQ(out.dbname, nullptr);
    dbclose(shapes);
}

// Every allocation of the scan fails in turn: each failure is registered,
// the input is closed again and nothing leaks (the sanitizer build checks).
TEST_F(EsriInput, EveryAllocationFailureIsReported)
{
    std::string path = dir.file("alloc.db");
    db_write_rows(path, {db_poly_record(5, {0, 3}, {{0, 0}, {1, 0}, {1, 1}, {5, 5}, {6, 5}, {6, 6}}),
                         db_poly_record(3, {0}, {{2, 2}, {3, 3}})});
    Dbptr shapes = open_shapes(path);
    bool saw_realloc = false;
    for (long n = 1;; n++) {
        SCOPED_TRACE(n);
        elog_clear_register(0);
        Orvex o;
        int rc;
        long calls;
        {
            DbAllocFailure fail(n);
            rc = o.setInput(shapes);
            calls = DbAllocFailure::calls();
        }
        if (rc == 0) {
            ASSERT_LT(calls, n);
            EXPECT_EQ(only_tile(o).nsegments, 3);
            break;
        }
        std::vector<std::string> m = db_register();
        ASSERT_GE(m.size(), 1u);
        if (n == 1)
            EXPECT_EQ(m[0].rfind("Orvex::setInput: strdup(" + path + ") error.", 0), 0u);
        else
            EXPECT_EQ(m.back(), "Orvex::setInput: scanInput(" + path + ") error.\n");
        EXPECT_EQ(o.dbname, nullptr);
        if (m[0].rfind("Orvex::scanInput: realloc(segments) error.", 0) == 0) {
            // The tile keeps its earlier array and count.
            saw_realloc = true;
            ASSERT_GE(only_tile(o).nsegments, 1);
            EXPECT_GT(only_tile(o).segments[only_tile(o).nsegments - 1].npts, 0);
        }
    }
    EXPECT_TRUE(saw_realloc);
    dbclose(shapes);
}

}  // namespace

namespace {

// A file input after a database input: refused while the database is
// open; after a failed database scan the leftovers give way to the file.
TEST_F(EsriInput, FileInputAfterADatabaseInput)
{
    const std::string tiny = std::string(ORVEX_TEST_DATA) + "/tiny.orx";
    std::string good = dir.file("one.db");
    db_write_rows(good, {db_poly_record(3, {0}, {{1, 1}, {2, 2}})});
    Dbptr shapes = open_shapes(good);
    {
        Orvex o;
        ASSERT_EQ(o.setInput(shapes), 0);
        elog_clear_register(0);
        EXPECT_EQ(o.setInput(tiny.c_str(), 0, nullptr), -1);
        EXPECT_EQ(db_register(),
                  std::vector<std::string>{"Orvex::setInput: database(" + good + ") already open.\n"});
        EXPECT_EQ(o.frame.resolutions[0].data_type, ORVEX_DATA_ESRI);
    }
    dbclose(shapes);

    std::string bad = dir.file("far.db");
    db_write_rows(bad, {db_poly_record(3, {0}, {{1, 1}, {2, 2}}),
                        db_poly_record(3, {0}, {{1, 1}, {3000, 2}})});
    shapes = open_shapes(bad);
    Orvex o;
    EXPECT_EQ(o.setInput(shapes), -1);
    EXPECT_EQ(o.frame.nresolutions, 1);
    ASSERT_EQ(o.setInput(tiny.c_str(), 0, nullptr), 0);
    EXPECT_EQ(o.frame.nresolutions, 1);
    EXPECT_EQ(o.frame.resolutions[0].map_type, ORVEX_MAP_GRID);
    dbclose(shapes);
    elog_clear_register(0);
}

}  // namespace
