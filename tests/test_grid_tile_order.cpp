// The order a build writes its tiles in: resolutions sampling the same raw
// grid go band by band, the first source row of each row of tiles deciding,
// the finer resolution first on a tie; the later resolutions' payloads are
// the ones that wait; a fed source is kept from the first row any later
// tile of the pass reads; another source starts another pass.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grid_fixtures.h"
#include "grid_terrain.h"
#include "grid_tile_writer.h"

namespace {

struct Given {
    int r;
    long t;
    bool deferred, pass_start;
    long keep_from;
    bool operator==(const Given &o) const
    {
        return r == o.r && t == o.t && deferred == o.deferred && pass_start == o.pass_start && keep_from == o.keep_from;
    }
};

std::ostream &operator<<(std::ostream &os, const Given &g)
{
    return os << "{" << g.r << ", " << g.t << ", " << g.deferred << ", " << g.pass_start << ", " << g.keep_from << "}";
}

int supply_nothing(void *, long, long) { return 0; }
void release_nothing(void *, long, long) {}

class GridTileOrder : public GridTest {
protected:
    void SetUp() override
    {
        GridTest::SetUp();
        grid_write_dem(dir.path("a.dem"), grid_terrain(60, 96, 3), 60, 96, 60, -1, -48, 1, false);
        grid_write_dem(dir.path("b.dem"), grid_terrain(60, 96, 4), 60, 96, 60, -1, -48, 1, false);
    }

    std::vector<Given> order_of(Orvex *a, Orvex *b)
    {
        Orvex out;
        EXPECT_EQ(out.setOutput(dir.path("out.orx").c_str()), 0);
        // Rows of tiles of 20, 20 and 60 source rows from a; then one of b.
        EXPECT_EQ(out.setResolutionHdrGrid(a, 0, 0, 1, 1, 3, 2, "a1", "x"), 0);
        EXPECT_EQ(out.setResolutionHdrGrid(a, 0, 0, 2, 1, 3, 1, "a2", "x"), 0);
        EXPECT_EQ(out.setResolutionHdrGrid(a, 0, 0, 4, 1, 1, 1, "a4", "x"), 0);
        EXPECT_EQ(out.setResolutionHdrGrid(b, 0, 0, 2, 1, 2, 1, "b2", "x"), 0);
        OrvexTileOrder order(&out);
        std::vector<Given> got;
        int r;
        long t;
        while (order.next(&r, &t)) got.push_back({r, t, order.deferred(), order.pass_start(), order.keep_from()});
        return got;
    }
};

TEST_F(GridTileOrder, ResolutionsOfOneGridGoBandByBand)
{
    auto a = grid_open(dir.path("a.dem")), b = grid_open(dir.path("b.dem"));
    ASSERT_TRUE(a && b);
    std::vector<Given> want = {
        {0, 0, false, true, -1}, {0, 1, false, false, -1}, {1, 0, true, false, -1}, {2, 0, true, false, -1},
        {0, 2, false, false, -1}, {0, 3, false, false, -1}, {1, 1, true, false, -1},
        {0, 4, false, false, -1}, {0, 5, false, false, -1}, {1, 2, true, false, -1},
        {3, 0, false, true, -1}, {3, 1, false, false, -1},
    };
    EXPECT_EQ(order_of(a.get(), b.get()), want);
}

// Fed, the rows kept after each tile: the lowest first row of the tiles
// still to come in the pass (factor 2 windows reach a row back, factor 4
// two rows), all of them after its last tile.
TEST_F(GridTileOrder, AFedGridIsKeptFromTheFirstRowALaterTileReads)
{
    auto a = grid_open(dir.path("a.dem")), b = grid_open(dir.path("b.dem"));
    ASSERT_TRUE(a && b);
    OrvexRowFeed feed{supply_nothing, release_nothing, nullptr};
    ASSERT_EQ(a->setRowFeed(&feed), 0);
    ASSERT_EQ(b->setRowFeed(&feed), 0);
    std::vector<long> keep;
    for (const Given &g : order_of(a.get(), b.get())) keep.push_back(g.keep_from);
    EXPECT_EQ(keep, (std::vector<long>{0, 0, 0, 19, 19, 19, 39, 39, 39, -1, 29, -1}));
}

// Two resolutions of one grid both rendered raw, the one declared later
// written first in the band: each resolution's payloads still lie together,
// in resolution order, as the literal writer lays them out.
TEST_F(GridTileOrder, WaitingPayloadsFollowTheirPassInResolutionOrder)
{
    auto a = grid_open(dir.path("a.dem"));
    ASSERT_TRUE(a);
    std::vector<GridDecl> decls = {{0, 0, 1, 1, 3, 2}, {0, 0, 2, 1, 3, 1}, {0, 0, 4, 0, 1, 1}};
    ASSERT_EQ(grid_build(dir.path("lib.orx"), a.get(), decls, false), 0);
    ASSERT_EQ(grid_build(dir.path("ref.orx"), a.get(), decls, true), 0);
    EXPECT_TRUE(grid_read_file(dir.path("lib.orx")) == grid_read_file(dir.path("ref.orx")));
}

}  // namespace
