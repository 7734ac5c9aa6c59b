// Shapes of any source imported into the shapefile database through a
// callback (what shp2db does with GDAL's vectors), and shp2db's refusal of
// such sources when built without GDAL (as the tests link it).
#include <gtest/gtest.h>
#include <unistd.h>

#include "db_support.h"
#include "shp2db_command.h"

namespace {

class GivenShapes : public ::testing::Test {
protected:
    void SetUp() override
    {
        elog_clear_register(0);
        path = dir.file("given.db");
        ASSERT_EQ(dbopen(path.c_str(), "r+", &db), 0);
    }
    void TearDown() override
    {
        dbclose(db);
        elog_clear_register(0);
    }
    DbTempDir dir;
    std::string path;
    Dbptr db;
};

/* Hands out the shapes of a list, then fails at `fail_at` (when set). */
struct ShapeList {
    std::vector<ShpdbShape> shapes;
    size_t next = 0, fail_at = 1000;
    static int give(void *arg, ShpdbShape *shape)
    {
        ShapeList *l = static_cast<ShapeList *>(arg);
        if (l->next == l->fail_at) {
            orvex_register_error(0, "source: broken.\n");
            return -1;
        }
        if (l->next == l->shapes.size()) return 0;
        *shape = l->shapes[l->next++];
        return 1;
    }
};

const int kRingParts[] = {0, 4};
const double kRingX[] = {0, 1, 1, 0, 5, 6, 5}, kRingY[] = {0, 0, 1, 0, 5, 6, 5};
const int kLineParts[] = {0};
const double kLineX[] = {-179.5, 179.5}, kLineY[] = {10, 11};

ShpdbShape polygon()
{
    return ShpdbShape{5, 2, kRingParts, 7, kRingX, kRingY, "{\"kind\":1}"};
}

ShpdbShape line()
{
    return ShpdbShape{3, 1, kLineParts, 2, kLineX, kLineY, nullptr};
}

TEST_F(GivenShapes, EachShapeBecomesOneRowOfItsSource)
{
    ShapeList list{{polygon(), line()}};
    ASSERT_EQ(shpdb_import_shapes(db, "lakes.gpkg", ShapeList::give, &list), 2);
    EXPECT_EQ(db_query_text(path, "SELECT path || ' ' || shape_type || ' ' || nrecords FROM filename"),
              "lakes.gpkg 0 2"); /* mixed types */
    EXPECT_EQ(db_query_text(path, "SELECT group_concat(record_number || ':' || shape_type || ':' || shp_offset || ':'"
                                  " || xmin || ':' || ymax || ':' || attributes, ' ') FROM shapefile"),
              "1:5:0:0.0:6.0:{\"kind\":1} 2:3:0:-179.5:11.0:{}");

    Dbptr rows = dblookup(db, nullptr, "shapefile", nullptr, nullptr);
    rows.record = 0;
    ESRISHPRECStr rec = {};
    ASSERT_EQ(esri_get_db_shp_record(rows, &rec), 0);
    const ESRISHPRECPOLYGStr *p = static_cast<const ESRISHPRECPOLYGStr *>(rec.record);
    ASSERT_EQ(p->numparts, 2);
    EXPECT_EQ(p->parts[1], 4);
    ASSERT_EQ(p->numpoints, 7);
    EXPECT_EQ(p->points[5].x, 6);
    EXPECT_EQ(p->points[5].y, 6);
    esri_free_shp_record(&rec);

    ShapeList lines{{line(), line()}};
    ASSERT_EQ(shpdb_import_shapes(db, "roads.geojson", ShapeList::give, &lines), 2);
    EXPECT_EQ(db_query_text(path, "SELECT shape_type || ' ' || nrecords FROM filename WHERE id = 2"), "3 2");
}

TEST_F(GivenShapes, AFailingOrMalformedShapeImportsNothing)
{
    ShapeList ok{{polygon()}};
    ASSERT_EQ(shpdb_import_shapes(db, "first.gpkg", ShapeList::give, &ok), 1);

    ShapeList broken{{polygon(), line()}};
    broken.fail_at = 1;
    elog_clear_register(0);
    EXPECT_EQ(shpdb_import_shapes(db, "src.gpkg", ShapeList::give, &broken), -1);
    std::vector<std::string> m = db_register();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0], "source: broken.\n");
    EXPECT_EQ(m[1], "shp2db_import: nothing of src.gpkg was imported into " + path + ".\n");

    const int bad_parts[] = {0, 9};
    ShpdbShape beyond = polygon();
    beyond.parts = bad_parts;
    ShpdbShape point = line();
    point.shape_type = 1;
    for (const ShpdbShape &s : {beyond, point}) {
        ShapeList list{{line(), s}};
        elog_clear_register(0);
        EXPECT_EQ(shpdb_import_shapes(db, "src.gpkg", ShapeList::give, &list), -1);
        m = db_register();
        ASSERT_EQ(m.size(), 2u);
        EXPECT_EQ(m[0], "shp2db_import: shape 2 of src.gpkg is not a PolyLine or Polygon with parts in order.\n");
    }
    EXPECT_EQ(db_query_text(path, "SELECT count(*) FROM shapefile"), "1");
    EXPECT_EQ(db_query_text(path, "SELECT count(*) FROM filename"), "1");
}

TEST_F(GivenShapes, Shp2dbWithoutGdalRefusesOtherFormatsAndCreatesNothing)
{
    std::string fresh = dir.file("fresh.db");
    std::vector<std::string> args = {"shp2db", "--where", "kind = 1", dir.file("lakes.geojson"), fresh};
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    testing::internal::CaptureStderr();
    EXPECT_EQ(orvex_shp2db_command(static_cast<int>(argv.size()), argv.data()), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("orvex shp2db: this orvex was built without GDAL"), std::string::npos) << err;
    EXPECT_NE(access(fresh.c_str(), F_OK), 0);
}

}  // namespace
