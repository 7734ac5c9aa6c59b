// Fuzz target: any bytes opened by GDAL through the map-file driver are
// refused with a message, or give subdatasets whose blocks, overviews and
// metadata all read (or fail to read) within the file, and layers whose
// every feature is made, as a GIS program walks them.
#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_api.h>

#include "fuzz_files.h"

extern "C" void GDALRegister_ORX();

namespace {

// Blocks larger than this are not read (a block may declare up to the
// library's inflate cap, costly to allocate under the sanitizers).
const long kMaxBlockBytes = 4L << 20;

void read_band(GDALRasterBandH band)
{
    int bx = 0, by = 0;
    GDALGetBlockSize(band, &bx, &by);
    if (static_cast<long>(bx) * by * 2 > kMaxBlockBytes) return;
    int nx = (GDALGetRasterBandXSize(band) + bx - 1) / bx, ny = (GDALGetRasterBandYSize(band) + by - 1) / by;
    for (int y = 0; y < ny && y < 4; y++)
        for (int x = 0; x < nx && x < 4; x++) {
            void *block = CPLMalloc(static_cast<size_t>(bx) * by * 2);
            if (GDALReadBlock(band, x, y, block) == CE_None) {
                volatile unsigned char sink = static_cast<unsigned char *>(block)[0];
                (void)sink;
            }
            CPLFree(block);
        }
}

void read_raster(const char *name)
{
    GDALDatasetH ds = GDALOpenEx(name, GDAL_OF_RASTER, nullptr, nullptr, nullptr);
    if (!ds) return;
    double t[6];
    (void)GDALGetGeoTransform(ds, t);
    CSLCount(GDALGetMetadata(ds, nullptr));
    for (int b = 1; b <= GDALGetRasterCount(ds); b++) {
        GDALRasterBandH band = GDALGetRasterBand(ds, b);
        read_band(band);
        for (int o = 0; o < GDALGetOverviewCount(band); o++) read_band(GDALGetOverview(band, o));
    }
    GDALClose(ds);
}

// Features of every layer, up to a budget of points (segments may share
// their points, so a small file can name far more than it holds).
void read_layers(GDALDatasetH ds)
{
    long budget = 1000000;
    for (int i = 0; i < GDALDatasetGetLayerCount(ds); i++) {
        OGRLayerH layer = GDALDatasetGetLayer(ds, i);
        while (budget > 0) {
            OGRFeatureH f = OGR_L_GetNextFeature(layer);
            if (!f) break;
            OGRGeometryH g = OGR_F_GetGeometryRef(f);
            /* A polygon's points are its ring's. */
            if (g && OGR_G_GetGeometryCount(g) > 0) g = OGR_G_GetGeometryRef(g, 0);
            budget -= 1 + (g ? OGR_G_GetPointCount(g) : 0);
            OGR_F_Destroy(f);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    GDALRegister_ORX();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    std::string path = fuzzfiles::path("input.orx");
    fuzzfiles::write_file(path, data, size);
    GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
    if (!ds) return 0;
    char **sub = CSLDuplicate(GDALGetMetadata(ds, "SUBDATASETS"));
    read_layers(ds);
    GDALClose(ds);
    for (int i = 1; i <= 8; i++) {
        const char *name = CSLFetchNameValue(sub, CPLSPrintf("SUBDATASET_%d_NAME", i));
        if (!name) break;
        read_raster(name);
    }
    CSLDestroy(sub);
    return 0;
}
