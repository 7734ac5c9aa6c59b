// From shapefiles to segments: files written by shapelib's own utilities
// (tests/data/shapefiles, see make_shapefiles.sh there) and by the tests
// themselves are imported and scanned as a map input.

#include <gtest/gtest.h>
#include <shapefil.h>
#include <string.h>

#include "db_support.h"
#include "shp2db_command.h"

namespace {

std::string data_file(const char *name)
{
    return std::string(ORVEX_TEST_DATA) + "/shapefiles/" + name;
}

const OrvexVectorTile &tile_of(const Orvex &o)
{
    return *static_cast<const OrvexVector *>(o.frame.resolutions[0].data)->tiles;
}

class ShapefileRoad : public ::testing::Test {
protected:
    void SetUp() override { elog_clear_register(0); }
    void TearDown() override { elog_clear_register(0); }
    DbTempDir dir;
};

TEST_F(ShapefileRoad, FilesOfShapelibUtilitiesScanToTheirSegments)
{
    std::string path = dir.file("world.db");
    std::vector<std::string> args = {"shp2db", data_file("islands.shp"), data_file("rivers.shp"),
                                     data_file("towns.shp"), data_file("terraces.shp"), path};
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    testing::internal::CaptureStdout();
    ASSERT_EQ(orvex_shp2db_command(static_cast<int>(argv.size()), argv.data()), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(db_query_text(path, "SELECT group_concat(shape_type) FROM"
                                  " (SELECT shape_type FROM shapefile ORDER BY id)"),
              "5,5,0,3,3,1,1,15");
    EXPECT_EQ(db_query_text(path, "SELECT json_extract(attributes, '$.AREA') FROM shapefile"
                                  " WHERE json_extract(attributes, '$.NAME') = 'Square'"),
              "96.0");

    Dbptr db;
    ASSERT_EQ(dbopen(path.c_str(), "r", &db), 0);
    Dbptr shapes = dblookup(db, nullptr, "shapefile", nullptr, nullptr);
    Orvex o;
    ASSERT_EQ(o.setInput(shapes), 0) << (elog_count() ? elog_message(0) : "");
    EXPECT_EQ(o.db.record, 8);

    // Square and hole, the date-line triangle, two river parts, the bent
    // river and the terrace; the null shape and the towns give nothing.
    const OrvexVectorTile &t = tile_of(o);
    ASSERT_EQ(t.nsegments, 7);
    const long npts[] = {5, 5, 4, 2, 3, 3, 4};
    const int fill[] = {1, 1, 1, 0, 0, 0, 1};
    for (int i = 0; i < 7; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(t.segments[i].npts, npts[i]);
        EXPECT_EQ(t.segments[i].fill, fill[i]);
        EXPECT_EQ(t.segments[i].level, 4);
    }
    const OrvexVectorSegment &hole = t.segments[1];
    EXPECT_EQ(hole.pts[2].lon_microdegrees, 8000000);
    EXPECT_EQ(hole.lonmin, 2000000);
    EXPECT_EQ(hole.latmax, 8000000);
    const OrvexVectorSegment &triangle = t.segments[2];
    EXPECT_EQ(triangle.pts[1].lon_microdegrees, -179000000);
    EXPECT_EQ(triangle.lonmin, 179000000);
    EXPECT_EQ(triangle.lonmax, 181000000);
    EXPECT_EQ(t.segments[6].latmax, 41000000);

    const OrvexResolution &r = o.frame.resolutions[0];
    EXPECT_DOUBLE_EQ(r.source.lon_start, -22);
    EXPECT_DOUBLE_EQ(r.source.dlon, 203);
    EXPECT_DOUBLE_EQ(r.source.lat_start, -11);
    EXPECT_DOUBLE_EQ(r.source.dlat, 52);
    EXPECT_DOUBLE_EQ(t.lonmax, 181);
    EXPECT_GT(r.degrees_per_pixel, 1.0);
    EXPECT_LT(r.degrees_per_pixel, 10.0);
    dbclose(db);
}

// A selection of features is a table of its own, made with SQL, and is
// scanned like the whole.
TEST_F(ShapefileRoad, SelectedFeaturesScanFromTheirOwnTable)
{
    std::string path = dir.file("selection.db");
    Dbptr db;
    ASSERT_EQ(dbopen(path.c_str(), "r+", &db), 0);
    ASSERT_EQ(shp2db_import(db, data_file("islands.shp").c_str()), 3);
    ASSERT_EQ(shp2db_import(db, data_file("rivers.shp").c_str()), 2);
    dbclose(db);
    db_exec(path, "CREATE TABLE bent AS SELECT * FROM shapefile"
                  " WHERE json_extract(attributes, '$.NAME') IN ('Bent', 'Square');");
    ASSERT_EQ(dbopen(path.c_str(), "r", &db), 0);
    Dbptr bent = dblookup(db, nullptr, "bent", nullptr, nullptr);
    ASSERT_NE(bent.table, dbINVALID);
    Orvex o;
    ASSERT_EQ(o.setInput(bent), 0);
    EXPECT_EQ(o.db.record, 2);
    ASSERT_EQ(tile_of(o).nsegments, 3);
    EXPECT_EQ(tile_of(o).segments[2].fill, 0);
    EXPECT_EQ(tile_of(o).segments[2].npts, 3);
    dbclose(db);
}

// The road's end: a vector map file built from the database input reads
// back with the same segments and points.
TEST_F(ShapefileRoad, BuildsAVectorMapFileThatReadsBack)
{
    std::string path = dir.file("build.db"), orx = dir.file("shapes.orx");
    Dbptr db;
    ASSERT_EQ(dbopen(path.c_str(), "r+", &db), 0);
    ASSERT_EQ(shp2db_import(db, data_file("islands.shp").c_str()), 3);
    ASSERT_EQ(shp2db_import(db, data_file("rivers.shp").c_str()), 2);
    Orvex in;
    ASSERT_EQ(in.setInput(dblookup(db, nullptr, "shapefile", nullptr, nullptr)), 0);
    {
        Orvex out;
        ASSERT_EQ(out.setOutput(orx.c_str()), 0);
        testing::internal::CaptureStdout();
        int declared = out.setResolutionHdrVector(&in, 0, 0, 1, 1, -1, 0, 0, "shapes", "full");
        int written = out.writeDataVector();
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(declared, 0);
        ASSERT_EQ(written, 0) << (elog_count() ? elog_message(0) : "");
    }
    Orvex reader;
    ASSERT_EQ(reader.setInput(orx.c_str(), 0, nullptr), 0);
    ASSERT_EQ(reader.frame.nresolutions, 1);
    const OrvexResolution &r = reader.frame.resolutions[0];
    EXPECT_EQ(r.map_type, 1);
    EXPECT_EQ(r.source.data_type, 5);
    EXPECT_EQ(std::string(r.source.fname), path);
    const OrvexVectorTile &read = tile_of(reader), &scanned = tile_of(in);
    ASSERT_EQ(read.nsegments, 6);
    for (int i = 0; i < 6; i++) {
        SCOPED_TRACE(i);
        const OrvexVectorSegment &a = read.segments[i], &b = scanned.segments[i];
        ASSERT_EQ(a.npts, b.npts);
        EXPECT_EQ(a.lonmin, b.lonmin);
        EXPECT_EQ(a.lonmax, b.lonmax);
        // The file holds the points with their longitudes unwrapped.
        OrvexLonUnwrapper unwrap;
        for (long k = 0; k < a.npts; k++) {
            OrvexXY p, q = b.pts[k];
            memcpy(&p, reinterpret_cast<const unsigned char *>(a.pts) + k * sizeof p, sizeof p);
            EXPECT_EQ(p.lon_microdegrees, unwrap.next(q.lon_microdegrees));
            EXPECT_EQ(p.lat_microdegrees, q.lat_microdegrees);
        }
    }
    dbclose(db);
}

// A hundred thousand shapes are imported and scanned (the benchmark
// bench_database reports the rate; nothing is timed here).
TEST_F(ShapefileRoad, HundredThousandShapes)
{
    const int n = 100000;
    std::string base = dir.file("many");
    SHPHandle shp = SHPCreate(base.c_str(), SHPT_ARC);
    DBFHandle dbf = DBFCreate(base.c_str());
    ASSERT_TRUE(shp && dbf);
    DBFAddField(dbf, "ID", FTInteger, 9, 0);
    for (int i = 0; i < n; i++) {
        double x[2] = {-170.0 + (i % 340), -169.5 + (i % 340)};
        double y[2] = {-80.0 + (i % 160), -79.5 + (i % 160)};
        SHPObject *obj = SHPCreateSimpleObject(SHPT_ARC, 2, x, y, nullptr);
        SHPWriteObject(shp, -1, obj);
        SHPDestroyObject(obj);
        DBFWriteIntegerAttribute(dbf, i, 0, i);
    }
    SHPClose(shp);
    DBFClose(dbf);

    std::string path = dir.file("many.db");
    Dbptr db;
    ASSERT_EQ(dbopen(path.c_str(), "r+", &db), 0);
    ASSERT_EQ(shp2db_import(db, base.c_str()), n);
    Dbptr shapes = dblookup(db, nullptr, "shapefile", nullptr, nullptr);
    Orvex o;
    ASSERT_EQ(o.setInput(shapes), 0);
    EXPECT_EQ(o.db.record, n);
    ASSERT_EQ(tile_of(o).nsegments, n);
    EXPECT_EQ(tile_of(o).segments[n - 1].pts[1].lon_microdegrees,
              static_cast<int>((-169.5 + (n - 1) % 340) * 1000000));
    dbclose(db);
}

}  // namespace
