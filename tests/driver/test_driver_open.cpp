// The GDAL driver's open and read paths, with the driver registered
// directly (no plugin loading, so that this runs under the sanitizers too):
// a hand-made map's raster and vector resolutions to the exact number, and
// every kind of damaged file refused with the library's reason.
#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_api.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

extern "C" void GDALRegister_ORX();

namespace {

class DriverOpen : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        GDALRegister_ORX();
        char pattern[] = "/tmp/orvex-driver-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    static void TearDownTestSuite()
    {
        std::string command = "rm -rf '" + folder_ + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }

    /* The suite's hand-made map (a 8 x 4 elevation grid in 2 x 2 tiles, the
     * same area in colour, two filled squares), with `defect` if given. */
    static std::string map_file(const std::string &defect = "")
    {
        std::string path = folder_ + "/map-" + (defect.empty() ? "good" : defect) + ".orx";
        std::string command = std::string(ORVEX_TESTDATA_TOOL) + " map '" + path + "' " + defect;
        EXPECT_EQ(system(command.c_str()), 0) << command;
        return path;
    }

    /* The good map with one byte changed: the high byte of the resolution
     * count ("count"), or of the first tile index entry's payload size
     * ("entry", after the 24-byte file header, the 848-byte resolution
     * record and the 104-byte grid header), or a grid of 9 columns in
     * tiles that hold 8 ("columns"). */
    static std::string damaged(const std::string &what)
    {
        std::string good = map_file(), path = folder_ + "/damaged-" + what + ".orx";
        FILE *in = fopen(good.c_str(), "rb");
        std::vector<unsigned char> bytes(1 << 16);
        bytes.resize(fread(bytes.data(), 1, bytes.size(), in));
        fclose(in);
        if (what == "count") bytes[8] = 0xff;
        if (what == "entry") bytes[24 + 848 + 104 + 16 + 6] = 0x7f;
        if (what == "columns") bytes[24 + 848 + 72] = 9; /* the grid's column count */
        FILE *out = fopen(path.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), out);
        fclose(out);
        return path;
    }

    static GDALDatasetH open(const std::string &name, unsigned flags = GDAL_OF_RASTER | GDAL_OF_VECTOR)
    {
        CPLErrorReset();
        CPLPushErrorHandler(CPLQuietErrorHandler);
        GDALDatasetH ds = GDALOpenEx(name.c_str(), flags, nullptr, nullptr, nullptr);
        CPLPopErrorHandler();
        return ds;
    }

    static std::string subdataset(const std::string &path, int k)
    {
        return "ORX:\"" + path + "\":" + std::to_string(k);
    }

    static std::string folder_;
};

std::string DriverOpen::folder_;

TEST_F(DriverOpen, ElevationGridIsOneBlockPerTileWithTheExportTransform)
{
    std::string path = map_file();
    GDALDatasetH map = open(path);
    ASSERT_NE(map, nullptr) << CPLGetLastErrorMsg();
    char **sub = GDALGetMetadata(map, "SUBDATASETS");
    EXPECT_STREQ(CSLFetchNameValue(sub, "SUBDATASET_1_NAME"), subdataset(path, 0).c_str());
    EXPECT_STREQ(CSLFetchNameValue(sub, "SUBDATASET_2_NAME"), subdataset(path, 1).c_str());
    EXPECT_EQ(CSLFetchNameValue(sub, "SUBDATASET_3_NAME"), nullptr);
    GDALClose(map);

    GDALDatasetH ds = open(subdataset(path, 0), GDAL_OF_RASTER);
    ASSERT_NE(ds, nullptr) << CPLGetLastErrorMsg();
    ASSERT_EQ(GDALGetRasterXSize(ds), 8);
    ASSERT_EQ(GDALGetRasterYSize(ds), 4);
    double t[6];
    ASSERT_EQ(GDALGetGeoTransform(ds, t), CE_None);
    /* Cells centred on samples 45 degrees apart from -180 / 90. */
    const double expect[6] = {-202.5, 45, 0, 112.5, 0, -45};
    for (int i = 0; i < 6; i++) EXPECT_EQ(t[i], expect[i]) << i;
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    int bx = 0, by = 0, has = 0;
    GDALGetBlockSize(band, &bx, &by);
    EXPECT_EQ(bx, 4);
    EXPECT_EQ(by, 2);
    EXPECT_EQ(GDALGetRasterDataType(band), GDT_Int16);
    EXPECT_EQ(GDALGetRasterNoDataValue(band, &has), -9999);
    EXPECT_TRUE(has);
    std::vector<short> z(32);
    ASSERT_EQ(GDALRasterIO(band, GF_Read, 0, 0, 8, 4, z.data(), 8, 4, GDT_Int16, 0, 0), CE_None);
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 8; c++)
            EXPECT_EQ(z[r * 8 + c], r == 3 && c == 7 ? -9999 : (r - 1) * 1000 + c * 10) << r << "," << c;
    EXPECT_STREQ(GDALGetMetadataItem(ds, "NAME", nullptr), "relief");
    EXPECT_STREQ(GDALGetMetadataItem(ds, "ELEVATION_MIN", nullptr), "-1000");
    EXPECT_STREQ(GDALGetMetadataItem(ds, "ELEVATION_MAX", nullptr), "2060");
    GDALClose(ds);
}

TEST_F(DriverOpen, ColourGridIsThreeByteBands)
{
    GDALDatasetH ds = open(subdataset(map_file(), 1), GDAL_OF_RASTER);
    ASSERT_NE(ds, nullptr) << CPLGetLastErrorMsg();
    ASSERT_EQ(GDALGetRasterCount(ds), 3);
    std::vector<unsigned char> rgb(3 * 32);
    int bands[3] = {1, 2, 3};
    ASSERT_EQ(GDALDatasetRasterIO(ds, GF_Read, 0, 0, 8, 4, rgb.data(), 8, 4, GDT_Byte, 3, bands, 3, 24, 1), CE_None);
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 8; c++) {
            const unsigned char *px = &rgb[3 * (r * 8 + c)];
            EXPECT_EQ(px[0], r * 60);
            EXPECT_EQ(px[1], c * 30);
            EXPECT_EQ(px[2], 200);
        }
    EXPECT_EQ(GDALGetRasterColorInterpretation(GDALGetRasterBand(ds, 3)), GCI_BlueBand);
    /* The colour grid is no overview of the elevations, nor they of it. */
    EXPECT_EQ(GDALGetOverviewCount(GDALGetRasterBand(ds, 1)), 0);
    GDALClose(ds);
}

TEST_F(DriverOpen, VectorResolutionIsALayerOfPolygons)
{
    GDALDatasetH ds = open(map_file(), GDAL_OF_VECTOR);
    ASSERT_NE(ds, nullptr) << CPLGetLastErrorMsg();
    ASSERT_EQ(GDALDatasetGetLayerCount(ds), 1);
    OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
    EXPECT_STREQ(OGR_L_GetName(layer), "shore");
    std::vector<std::string> wkt;
    std::vector<int> levels;
    for (int pass = 0; pass < 2; pass++) { /* a second pass gives the same features */
        OGR_L_ResetReading(layer);
        wkt.clear();
        levels.clear();
        while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
            char *text = nullptr;
            OGR_G_ExportToWkt(OGR_F_GetGeometryRef(f), &text);
            wkt.push_back(text);
            CPLFree(text);
            levels.push_back(OGR_F_GetFieldAsInteger(f, OGR_F_GetFieldIndex(f, "level")));
            EXPECT_EQ(OGR_F_GetFieldAsInteger(f, OGR_F_GetFieldIndex(f, "filled")), 1);
            OGR_F_Destroy(f);
        }
        ASSERT_EQ(wkt.size(), 2u);
        EXPECT_EQ(wkt[0], "MULTIPOLYGON (((-20 -20,20 -20,20 20,-20 20,-20 -20)))");
        EXPECT_EQ(wkt[1], "MULTIPOLYGON (((-5 -5,5 -5,5 5,-5 5,-5 -5)))");
        EXPECT_EQ(levels, (std::vector<int>{1, 2}));
    }
    /* Only a raster was asked for: a map's layers are not listed then. */
    GDALClose(ds);
    ds = open(map_file(), GDAL_OF_RASTER);
    ASSERT_NE(ds, nullptr);
    EXPECT_EQ(GDALDatasetGetLayerCount(ds), 0);
    GDALClose(ds);
}

TEST_F(DriverOpen, DamagedFilesFailWithTheLibrarysReason)
{
    struct Case {
        const char *defect, *reason;
    } cases[] = {
        {"truncate", "past the end of the file"},
        {"huge", "grid tile size is negative or too large"},
        {"count", "resolution count 255 does not fit"},
        {"entry", "tile payload reaches past the end of the file"},
    };
    for (const Case &c : cases) {
        std::string path = std::string(c.defect) == "count" || std::string(c.defect) == "entry" ? damaged(c.defect)
                                                                                                 : map_file(c.defect);
        for (const std::string &name : {path, subdataset(path, 0)}) {
            EXPECT_EQ(open(name), nullptr) << c.defect;
            std::string msg = CPLGetLastErrorMsg();
            EXPECT_NE(msg.find("ORX: cannot open"), std::string::npos) << c.defect << ": " << msg;
            EXPECT_NE(msg.find(c.reason), std::string::npos) << c.defect << ": " << msg;
        }
    }
    /* Not a map at all: no driver claims it. */
    EXPECT_EQ(open(map_file("magic")), nullptr);
}

/* Flaws that only a check finds (points outside their box, overlapping
 * payloads, an unwritten tile, a wrong range) still read, or fail a read,
 * without reading past anything. */
TEST_F(DriverOpen, FlawsTheReaderAcceptsReadCleanly)
{
    for (const char *defect : {"points", "overlap", "unwritten", "range"}) {
        std::string path = map_file(defect);
        for (int k = 0; k < 2; k++) {
            GDALDatasetH ds = open(subdataset(path, k), GDAL_OF_RASTER);
            ASSERT_NE(ds, nullptr) << defect << ": " << CPLGetLastErrorMsg();
            std::vector<unsigned char> buf(3 * 32 * 2);
            CPLPushErrorHandler(CPLQuietErrorHandler);
            CPLErr err = GDALDatasetRasterIO(ds, GF_Read, 0, 0, 8, 4, buf.data(), 8, 4, GDT_Int16,
                                             GDALGetRasterCount(ds), nullptr, 0, 0, 0);
            CPLPopErrorHandler();
            if (std::string(defect) != "unwritten") {
                EXPECT_EQ(err, CE_None) << defect;
            }
            GDALClose(ds);
        }
        GDALDatasetH ds = open(path, GDAL_OF_VECTOR);
        ASSERT_NE(ds, nullptr) << defect;
        OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
        int n = 0;
        while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
            n++;
            OGR_F_Destroy(f);
        }
        EXPECT_EQ(n, 2) << defect;
        GDALClose(ds);
    }
}

/* The reader takes a grid whose tiles hold fewer columns than it claims;
 * as a raster it would have blocks beyond the tile index. */
TEST_F(DriverOpen, GridItsTilesDoNotCoverIsNoRaster)
{
    std::string path = damaged("columns");
    GDALDatasetH map = open(path, GDAL_OF_RASTER);
    ASSERT_NE(map, nullptr) << CPLGetLastErrorMsg();
    char **sub = GDALGetMetadata(map, "SUBDATASETS");
    EXPECT_STREQ(CSLFetchNameValue(sub, "SUBDATASET_1_NAME"), subdataset(path, 1).c_str());
    EXPECT_EQ(CSLFetchNameValue(sub, "SUBDATASET_2_NAME"), nullptr);
    GDALClose(map);
    EXPECT_EQ(open(subdataset(path, 0), GDAL_OF_RASTER), nullptr);
    EXPECT_NE(std::string(CPLGetLastErrorMsg()).find("resolution 0 has a grid its tiles do not cover"),
              std::string::npos)
        << CPLGetLastErrorMsg();
}

TEST_F(DriverOpen, UnreadableTileFailsItsBlockOnly)
{
    GDALDatasetH ds = open(subdataset(map_file("payload"), 0), GDAL_OF_RASTER);
    ASSERT_NE(ds, nullptr) << CPLGetLastErrorMsg();
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    short z[8];
    CPLPushErrorHandler(CPLQuietErrorHandler);
    /* Tile 0 (the first block) reads; tile 1, truncated, fails. */
    EXPECT_EQ(GDALRasterIO(band, GF_Read, 0, 0, 4, 2, z, 4, 2, GDT_Int16, 0, 0), CE_None);
    EXPECT_EQ(z[0], -1000);
    EXPECT_EQ(GDALRasterIO(band, GF_Read, 4, 0, 4, 2, z, 4, 2, GDT_Int16, 0, 0), CE_Failure);
    CPLPopErrorHandler();
    EXPECT_NE(std::string(CPLGetLastErrorMsg()).find("cannot read tile 1 of resolution 0"), std::string::npos)
        << CPLGetLastErrorMsg();
    GDALClose(ds);
}

TEST_F(DriverOpen, BadNamesAndModesAreRefused)
{
    std::string path = map_file();
    struct Case {
        std::string name, reason;
    } cases[] = {
        {subdataset(path, 2), "resolution 2 is not a grid"},
        {subdataset(path, 3), "has 3 resolutions, no resolution 3"},
        {"ORX:\"" + path + "\":-1", "is not a subdataset name"},
        {"ORX:\"" + path + "\":1x", "is not a subdataset name"},
        {"ORX:\"" + path + "\"", "is not a subdataset name"},
        {"ORX:" + path, "is not a subdataset name"},
        {subdataset(folder_ + "/none.orx", 0), "cannot open"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(open(c.name, GDAL_OF_RASTER), nullptr) << c.name;
        EXPECT_NE(std::string(CPLGetLastErrorMsg()).find(c.reason), std::string::npos)
            << c.name << ": " << CPLGetLastErrorMsg();
    }
    /* Unquoted names with the file's own colon-free path work too. */
    GDALDatasetH ds = open("ORX:" + path + ":0", GDAL_OF_RASTER);
    EXPECT_NE(ds, nullptr) << CPLGetLastErrorMsg();
    if (ds) GDALClose(ds);
    EXPECT_EQ(open(path, GDAL_OF_RASTER | GDAL_OF_UPDATE), nullptr);
    EXPECT_NE(std::string(CPLGetLastErrorMsg()).find("read-only"), std::string::npos) << CPLGetLastErrorMsg();
}

}  // namespace
