// GDAL's side of the read benchmarks of the comparison (see
// compare_read.h): band 1 of a raster, one dataset handle per thread (a
// handle serves one thread at a time).
//  tiles    GDALReadBlock over every block, as they come, each summed over
//           its samples inside the raster;
//  lookups  a block cache large enough for every handle's blocks, every
//           block read beforehand; the pixel holding each position (the
//           geotransform's pixels are centred on the samples, so this is
//           the nearest sample), read by a 1 x 1 GDALRasterIO.

#include <math.h>

#include <atomic>

#include "compare_read.h"
#include "cpl_error.h"
#include "gdal.h"

namespace {

struct Handle {
    GDALDatasetH dataset;
    GDALRasterBandH band;
};

Handle open_raster(const char *path)
{
    Handle h;
    h.dataset = GDALOpenEx(path, GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
    h.band = h.dataset ? GDALGetRasterBand(h.dataset, 1) : nullptr;
    if (!h.band || GDALGetRasterDataType(h.band) != GDT_Int16) {
        fprintf(stderr, "compare_read_gdal: %s has no int16 band 1\n", path);
        exit(1);
    }
    return h;
}

bool read_failed(const char *what)
{
    fprintf(stderr, "compare_read_gdal: %s: %s\n", what, CPLGetLastErrorMsg());
    return false;
}

struct Blocks {
    int width, height;
    long across, down;
};

Blocks blocks_of(const Handle &h)
{
    Blocks b;
    GDALGetBlockSize(h.band, &b.width, &b.height);
    b.across = (GDALGetRasterBandXSize(h.band) + b.width - 1) / b.width;
    b.down = (GDALGetRasterBandYSize(h.band) + b.height - 1) / b.height;
    return b;
}

// The samples of band 1, from the geotransform (gt) whose pixels are
// centred on them.
SampleGrid grid_of(const Handle &h, double gt[6])
{
    if (GDALGetGeoTransform(h.dataset, gt) != CE_None) exit(!read_failed("no geotransform"));
    SampleGrid grid;
    grid.nrows = GDALGetRasterBandYSize(h.band);
    grid.ncols = GDALGetRasterBandXSize(h.band);
    grid.lat0 = gt[3] + gt[5] / 2;
    grid.dlat = gt[5];
    grid.lon0 = gt[0] + gt[1] / 2;
    grid.dlon = gt[1];
    return grid;
}

std::vector<Handle> open_handles(const ReadJob &job)
{
    std::vector<Handle> handles;
    for (int t = 0; t < job.threads; t++) handles.push_back(open_raster(job.path));
    return handles;
}

double read_tiles(const ReadJob &job, int64_t *checksum)
{
    std::vector<Handle> handles = open_handles(job);
    Blocks b = blocks_of(handles[0]);
    long nrows = GDALGetRasterBandYSize(handles[0].band), ncols = GDALGetRasterBandXSize(handles[0].band);
    std::atomic<long> next{0};
    return compare_threads(job.threads, [&](int t, int64_t *sum) {
        std::vector<int16_t> block(static_cast<size_t>(b.width) * b.height);
        for (long i; (i = next++) < b.across * b.down;) {
            long bx = i % b.across, by = i / b.across;
            if (GDALReadBlock(handles[static_cast<size_t>(t)].band, static_cast<int>(bx), static_cast<int>(by),
                              block.data()) != CE_None)
                return read_failed("GDALReadBlock");
            long rows = nrows - by * b.height < b.height ? nrows - by * b.height : b.height;
            long cols = ncols - bx * b.width < b.width ? ncols - bx * b.width : b.width;
            *sum += compare_sum(block.data(), rows, cols, b.width);
        }
        return true;
    }, checksum);
}

// Reads one pixel of every block, which brings the whole block into the
// cache.
void warm(const Handle &h, const Blocks &b)
{
    int16_t z;
    for (long by = 0; by < b.down; by++)
        for (long bx = 0; bx < b.across; bx++)
            if (GDALRasterIO(h.band, GF_Read, static_cast<int>(bx * b.width), static_cast<int>(by * b.height), 1,
                             1, &z, 1, 1, GDT_Int16, 0, 0) != CE_None)
                exit(!read_failed("GDALRasterIO"));
}

double read_points(const ReadJob &job, int64_t *checksum)
{
    Handle first = open_raster(job.path);
    Blocks b = blocks_of(first);
    GDALClose(first.dataset);
    GIntBig block_bytes = static_cast<GIntBig>(b.width) * b.height * 2;
    GDALSetCacheMax64(job.threads * b.across * b.down * block_bytes * 5 / 4 + (64 << 20));
    std::vector<Handle> handles = open_handles(job);
    for (const Handle &h : handles) warm(h, b);
    double gt[6];
    std::vector<Position> points = compare_positions(grid_of(handles[0], gt), job.count, job.salt);
    return compare_lookups(points, job.threads, [&](int t, const Position &p, int16_t *z) {
        int col = static_cast<int>(floor((p.lon - gt[0]) / gt[1]));
        int row = static_cast<int>(floor((p.lat - gt[3]) / gt[5]));
        return GDALRasterIO(handles[static_cast<size_t>(t)].band, GF_Read, col, row, 1, 1, z, 1, 1,
                            GDT_Int16, 0, 0) == CE_None || read_failed("GDALRasterIO");
    }, checksum);
}

}  // namespace

int main(int argc, char **argv)
{
    ReadJob job;
    if (compare_parse(argc, argv, &job) < 0) return 2;
    GDALAllRegister();
    int64_t checksum = 0;
    double seconds = job.lookups ? read_points(job, &checksum) : read_tiles(job, &checksum);
    double gt[6];
    compare_print(job, grid_of(open_raster(job.path), gt), seconds, checksum);
    return 0;
}
