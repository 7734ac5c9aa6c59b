// Raw grid inputs: parameter keys, defaults, the density rule, the
// messages, and refusing a file that does not hold its samples.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grid_fixtures.h"
#include "grid_terrain.h"

namespace {

class RawGrid : public ::testing::Test {
protected:
    void SetUp() override { elog_clear_register(0); }
    void TearDown() override { elog_clear_register(0); }

    // Writes `bytes` zero bytes as <name> with the parameter text beside it.
    std::string make(const std::string &name, size_t bytes, const std::string &pf)
    {
        std::string p = dir.path(name);
        std::vector<uint8_t> zero(bytes, 0);
        grid_write_bytes(p, zero.data(), zero.size());
        grid_write_pf(p, pf);
        return p;
    }

    // Opening must fail with the scan's message followed by setInput's,
    // after the toolkit's message on the value when `value_message` is
    // given.
    void expect_refused(const std::string &path, const std::string &message,
                        const std::string &value_message = "")
    {
        Orvex o;
        EXPECT_EQ(o.setInput(path.c_str(), 0, nullptr), -1);
        std::vector<std::string> m = grid_take_messages();
        if (!value_message.empty()) {
            ASSERT_FALSE(m.empty());
            EXPECT_EQ(m[0], value_message);
            m.erase(m.begin());
        }
        ASSERT_EQ(m.size(), 2u);
        EXPECT_EQ(m[0], message);
        EXPECT_EQ(m[1], "Orvex::setInput: scanInput(" + path + ") error.\n");
        EXPECT_EQ(o.frame.nresolutions, 0);
        EXPECT_EQ(o.file_stream, nullptr);
        EXPECT_EQ(o.fd, -1);
    }

    GridTempDir dir;
};

const char *const kRgbGeometry = "lat 10\nlon 20\nnlat 3\nnlon 4\n";

TEST_F(RawGrid, ColourDensityStandsInForAMissingOrZeroStep)
{
    for (const char *step : {"", "dlat 0\n", "dlat 0.0\n"}) {
        std::string p = make("a.rgb", 36, std::string(kRgbGeometry) + step + "pplat 120\npplon 60\n");
        Orvex o;
        ASSERT_EQ(o.setInput(p.c_str(), 0, nullptr), 0) << step;
        const OrvexResolution &r = o.frame.resolutions[0];
        const OrvexGrid &g = *static_cast<OrvexGrid *>(r.data);
        EXPECT_DOUBLE_EQ(g.dlat, 1.0 / 120);
        EXPECT_DOUBLE_EQ(r.degrees_per_pixel, 1.0 / 120);
        EXPECT_DOUBLE_EQ(g.dlon, 1.0 / 60);
        EXPECT_DOUBLE_EQ(r.source.dlon, 1.0 / 60);
    }
}

// A negative density is a negative step: rows running south (columns west).
TEST_F(RawGrid, NegativeColourDensityRunsRowsSouth)
{
    std::string p = make("s.rgb", 36, "lat 10\nlon 20\nnlat 3\nnlon 4\npplat -5.688888888888889\npplon -4\n");
    Orvex o;
    ASSERT_EQ(o.setInput(p.c_str(), 0, nullptr), 0);
    const OrvexResolution &r = o.frame.resolutions[0];
    const OrvexGrid &g = *static_cast<OrvexGrid *>(r.data);
    EXPECT_DOUBLE_EQ(g.dlat, -1.0 / 5.688888888888889);
    EXPECT_DOUBLE_EQ(g.dlon, -0.25);
    EXPECT_DOUBLE_EQ(r.dlat_tiles, 3 * (-1.0 / 5.688888888888889));
}

TEST_F(RawGrid, ColourStepWinsOverDensityWhichIsThenNeverRead)
{
    std::string p = make("a.rgb", 36, std::string(kRgbGeometry) +
                                          "dlat -0.5\npplat not-a-number\ndlon 0.25\npplon x\n");
    Orvex o;
    ASSERT_EQ(o.setInput(p.c_str(), 0, nullptr), 0);
    const OrvexResolution &r = o.frame.resolutions[0];
    EXPECT_EQ(r.degrees_per_pixel, 0.5);
    EXPECT_EQ(r.dlat_tiles, 3 * -0.5);
    EXPECT_EQ(r.dlon_tiles, 4 * 0.25);
}

TEST_F(RawGrid, FrameOfAColourAndAnElevationGrid)
{
    std::string rgb = make("a.rgb", 36, std::string(kRgbGeometry) + "dlat 0.5\ndlon 0.25\n");
    std::string dem = make("a.dem", 24, "lat 10\ndlat 0.5\nlon 20\ndlon 0.25\nnlat 3\nnlon 4\n");
    Orvex c, e;
    ASSERT_EQ(c.setInput(rgb.c_str(), 0, nullptr), 0);
    ASSERT_EQ(e.setInput(dem.c_str(), 0, nullptr), 0);
    for (Orvex *o : {&c, &e}) {
        ASSERT_EQ(o->frame.nresolutions, 1);
        const OrvexResolution &r = o->frame.resolutions[0];
        const OrvexGrid &g = *static_cast<OrvexGrid *>(r.data);
        bool colour = o == &c;
        EXPECT_STREQ(r.source.fname, o->fname);
        EXPECT_EQ(r.source.data_type, colour ? 1 : 2);
        EXPECT_EQ(r.data_type, colour ? 1 : 2);
        EXPECT_EQ(r.map_type, 0);
        EXPECT_EQ(r.source.nlon, 4);
        EXPECT_EQ(r.source.nlat, 3);
        EXPECT_EQ(r.source.lat_start, 10);
        EXPECT_EQ(r.lon_start_tiles, 20);
        EXPECT_EQ(r.ntiles, 1);
        EXPECT_EQ(r.nlon_tiles, 1);
        EXPECT_EQ(r.name[0], 0);
        EXPECT_EQ(g.content, colour ? 0 : 1);
        EXPECT_EQ(g.compressed, 0);
        EXPECT_EQ(g.decimation_factor, 1);
        EXPECT_EQ(g.nlon_per_tile, 4);
        EXPECT_EQ(g.nlat_per_tile, 3);
        EXPECT_EQ(g.tiles[0].nbuf, colour ? 36u : 24u);
        EXPECT_EQ(g.tiles[0].buf, o->file_stream);
        EXPECT_EQ(g.tiles[0].zmin, 0);
        EXPECT_EQ(g.tiles[0].zmax, 0);
    }
}

TEST_F(RawGrid, BigEndianFlagMakesDataTypeThree)
{
    const std::string geometry = "lat 0\ndlat 1\nlon 0\ndlon 1\nnlat 3\nnlon 4\n";
    struct {
        const char *flag;
        long type;
    } cases[] = {{"", 2}, {"bigendian no\n", 2}, {"bigendian yes\n", 3}, {"bigendian 1\n", 3}};
    for (auto &c : cases) {
        std::string p = make("b.dem", 24, geometry + c.flag);
        Orvex o;
        ASSERT_EQ(o.setInput(p.c_str(), 0, nullptr), 0) << c.flag;
        EXPECT_EQ(o.frame.resolutions[0].data_type, c.type);
        EXPECT_EQ(o.frame.resolutions[0].source.data_type, c.type);
        EXPECT_EQ(static_cast<OrvexGrid *>(o.frame.resolutions[0].data)->content, 1);
    }
    std::string p = make("c.dem", 24, geometry + "bigendian maybe\n");
    expect_refused(p, "Orvex::scanInput: refused the value of bigendian in parameter file.\n",
                   "parameter file " + p + ".pf: key bigendian: cannot use value 'maybe' (not yes or no)\n");
}

TEST_F(RawGrid, FirstMissingKeyIsReported)
{
    struct {
        const char *name, *pf, *key;
    } cases[] = {
        {"m.rgb", "dlat 1\ndlon 1\nnlat 3\nnlon 4\n", "lat"},
        {"m.rgb", "lat 0\nlon 0\ndlon 1\nnlat 3\nnlon 4\n", "pplat"},
        {"m.rgb", "lat 0\ndlat 1\ndlon 1\nnlat 3\nnlon 4\n", "lon"},
        {"m.rgb", "lat 0\ndlat 1\nlon 0\nnlat 3\nnlon 4\n", "pplon"},
        {"m.rgb", "lat 0\ndlat 1\nlon 0\ndlon 1\nnlon 4\n", "nlat"},
        {"m.rgb", "lat 0\ndlat 1\nlon 0\ndlon 1\nnlat 3\n", "nlon"},
        {"m.dem", "lat 0\npplat 4\nlon 0\ndlon 1\nnlat 3\nnlon 4\n", "dlat"},
        {"m.dem", "lat 0\ndlat 1\nlon 0\npplon 4\nnlat 3\nnlon 4\n", "dlon"},
        {"m.dem", "dlat 1\nlon 0\ndlon 1\nnlat 3\nnlon 4\n", "lat"},
    };
    for (auto &c : cases)
        expect_refused(make(c.name, 64, c.pf),
                       std::string("Orvex::scanInput: Cannot find ") + c.key + " in parameter file.\n");
}

// Values that are present but unusable: the toolkit names the file, the
// key and the value, then the scan says it refused the key's value.
TEST_F(RawGrid, UnusableValuesAreNamedBeforeTheScansMessage)
{
    const std::string dem = "lat 0\ndlat 1\nlon 0\ndlon 1\nnlat 3\nnlon 4\n";
    struct {
        const char *name, *pf, *key, *value, *why;
    } cases[] = {
        {"u.dem", "lat 0\ndlat 1\nlon 0\ndlon 0.33x\nnlat 3\nnlon 4\n", "dlon", "0.33x", "not a number"},
        {"u.dem", "lat 0\ndlat 0\nlon 0\ndlon 1\nnlat 3\nnlon 4\n", "dlat", "0", "a step of zero"},
        {"u.dem", "lat 0\ndlat -0.0\nlon 0\ndlon 1\nnlat 3\nnlon 4\n", "dlat", "-0.0", "a step of zero"},
        {"u.dem", "lat 0\ndlat 1\nlon 0\ndlon nan\nnlat 3\nnlon 4\n", "dlon", "nan", "not a finite number"},
        {"u.dem", "lat 0\ndlat inf\nlon 0\ndlon 1\nnlat 3\nnlon 4\n", "dlat", "inf", "not a finite number"},
        {"u.dem", "lat 0\ndlat 1\nlon 0\ndlon 1\nnlat 3\nnlon 4.5\n", "nlon", "4.5",
         "not a whole number within the range of an int"},
        {"u.dem", "lat 91\ndlat 1\nlon 0\ndlon 1\nnlat 3\nnlon 4\n", "lat", "91", "not a latitude from -90 to 90"},
        {"u.dem", "lat 0\ndlat 1\nlon 400\ndlon 1\nnlat 3\nnlon 4\n", "lon", "400",
         "not a longitude from -360 to 360"},
        {"u.dem", "lat 0\ndlat 1\nlon 0\ndlon 1\nnlat 0\nnlon 4\n", "nlat", "0", "not a positive number of rows"},
        {"u.dem", "lat 0\ndlat 1\nlon 0\ndlon 1\nnlat 3\nnlon -4\n", "nlon", "-4",
         "not a positive number of columns"},
        // 90 rows of one degree from the equator reach 89, 92 would reach 91.
        {"u.dem", "lat 0\ndlat 1\nlon 0\ndlon 1\nnlat 92\nnlon 4\n", "nlat", "92",
         "the last row would lie beyond a pole"},
        {"u.dem", "lat 0\ndlat 1\nlon 0\ndlon 1\nnlat 2000000000\nnlon 4\n", "nlat", "2000000000",
         "the last row would lie beyond a pole"},
        {"u.dem", "lat 0\ndlat 1\nlon 0\ndlon -1\nnlat 3\nnlon 362\n", "nlon", "362",
         "the columns would span more than 360 degrees"},
        {"u.rgb", "lat 0\ndlat x\nlon 0\ndlon 1\nnlat 3\nnlon 4\n", "dlat", "x", "not a number"},
        {"u.rgb", "lat 0\npplat 0\nlon 0\ndlon 1\nnlat 3\nnlon 4\n", "pplat", "0",
         "not a finite, non-zero number of samples per degree"},
        {"u.rgb", "lat 0\ndlat 1\nlon 0\npplon -0\nnlat 3\nnlon 4\n", "pplon", "-0",
         "not a finite, non-zero number of samples per degree"},
        {"u.rgb", "lat 0\ndlat 1\nlon 0\npplon 1e-320\nnlat 3\nnlon 4\n", "pplon", "1e-320",
         "not a finite number"},
        {"u.rgb", "lat 0\npplat inf\nlon 0\ndlon 1\nnlat 3\nnlon 4\n", "pplat", "inf", "not a finite number"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.pf);
        std::string p = make(c.name, 64, c.pf);
        expect_refused(p, std::string("Orvex::scanInput: refused the value of ") + c.key + " in parameter file.\n",
                       "parameter file " + p + ".pf: key " + c.key + ": cannot use value '" + c.value + "' (" +
                           c.why + ")\n");
    }
}

// Rounded steps must not refuse grids that end at a pole or close the turn.
TEST_F(RawGrid, WholeEarthGridsWithRoundedStepsAreAccepted)
{
    const char *whole[] = {
        "lat 90\ndlat -0.083333333333333\nlon -180\ndlon 0.083333333333333\nnlat 2161\nnlon 4321\n",
        "lat -90\ndlat 1\nlon 0\ndlon 1\nnlat 181\nnlon 361\n",
    };
    for (const char *pf : whole) {
        std::string p = make("w.dem", 2161L * 4321L * 2L, pf);
        Orvex o;
        EXPECT_EQ(o.setInput(p.c_str(), 0, nullptr), 0) << pf;
    }
}

TEST_F(RawGrid, FileMustHoldEverySample)
{
    const std::string geometry = "lat 0\ndlat 1\nlon 0\ndlon 1\n";
    std::string p = make("s.dem", 23, geometry + "nlat 3\nnlon 4\n");
    expect_refused(p, "Orvex::scanInput: " + p +
                          ": file of 23 bytes is shorter than nlat 3 x nlon 4 x 2 bytes per sample "
                          "= 24 bytes.\n");
    p = make("s.rgb", 35, geometry + "nlat 3\nnlon 4\n");
    expect_refused(p, "Orvex::scanInput: " + p +
                          ": file of 35 bytes is shorter than nlat 3 x nlon 4 x 3 bytes per sample "
                          "= 36 bytes.\n");
    p = make("n.dem", 24, geometry + "nlat -3\nnlon -4\n");  // product positive, still refused
    expect_refused(p, "Orvex::scanInput: refused the value of nlat in parameter file.\n",
                   "parameter file " + p + ".pf: key nlat: cannot use value '-3' (not a positive number of rows)\n");
    Orvex o;
    // A file longer than its samples is accepted.
    p = make("l.dem", 100, geometry + "nlat 3\nnlon 4\n");
    EXPECT_EQ(o.setInput(p.c_str(), 0, nullptr), 0);
}

TEST_F(RawGrid, AllocationFailuresAreReportedAndNothingLeaks)
{
    std::string p = make("f.dem", 24, "lat 0\ndlat 1\nlon 0\ndlon 1\nnlat 3\nnlon 4\n");
    const char *expected[] = {"Orvex::scanInput: malloc(resolutions) error.",
                              "Orvex::scanInput: malloc(grid) error.",
                              "Orvex::scanInput: malloc(tile) error."};
    for (long n = 1; n <= 3; n++) {
        Orvex o;
        {
            GridFailingCall fail(GridFailingCall::kMalloc, n);
            EXPECT_EQ(o.setInput(p.c_str(), 0, nullptr), -1);
            EXPECT_TRUE(GridFailingCall::fired());
        }
        std::vector<std::string> m = grid_take_messages();
        ASSERT_EQ(m.size(), 2u);
        EXPECT_EQ(m[0].rfind(expected[n - 1], 0), 0u) << m[0];
        EXPECT_NE(m[0].find("Cannot allocate memory"), std::string::npos);
        EXPECT_EQ(o.frame.nresolutions, 0);
        // The object stays usable.
        EXPECT_EQ(o.setInput(p.c_str(), 0, nullptr), 0);
    }
}

}  // namespace
