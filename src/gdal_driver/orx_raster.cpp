#include "orx_raster.h"

#include <climits>
#include <cmath>
#include <cstring>

#include <algorithm>

#include "raster_values.h"

namespace orxdriver {

namespace {

/* One band of a grid resolution: a block is a map tile. */
class OrxRasterBand final : public GDALPamRasterBand {
public:
    OrxRasterBand(OrxRasterDataset *ds, int band, bool colour)
    {
        poDS = ds;
        nBand = band;
        colour_ = colour;
        eDataType = colour ? GDT_Byte : GDT_Int16;
        const OrvexGrid &g = ds->grid();
        nBlockXSize = static_cast<int>(g.nlon_per_tile);
        nBlockYSize = static_cast<int>(g.nlat_per_tile);
        static const char *const kColours[3] = {"red", "green", "blue"};
        SetDescription(colour ? kColours[band - 1] : "elevation");
    }

    CPLErr IReadBlock(int bx, int by, void *image) override;

    double GetNoDataValue(int *has) override
    {
        if (has) *has = !colour_;
        return colour_ ? 0 : ORVEX_NODATA;
    }

    GDALColorInterp GetColorInterpretation() override
    {
        if (!colour_) return GCI_Undefined;
        return static_cast<GDALColorInterp>(GCI_RedBand + nBand - 1);
    }

    int GetOverviewCount() override { return dataset()->overview_count(); }

    GDALRasterBand *GetOverview(int i) override
    {
        OrxRasterDataset *ov = dataset()->overview(i);
        return ov ? ov->GetRasterBand(nBand) : nullptr;
    }

private:
    OrxRasterDataset *dataset() const { return static_cast<OrxRasterDataset *>(poDS); }
    void fill_other_bands(int bx, int by, const unsigned char *samples, size_t n);
    static void channel(const unsigned char *samples, size_t n, int band, unsigned char *out);

    bool colour_;
};

CPLErr OrxRasterBand::IReadBlock(int bx, int by, void *image)
{
    OrxRasterDataset *ds = dataset();
    Orvex &map = *ds->map();
    int k = static_cast<int>(ds->resolution());
    const OrvexResolution &res = map.frame.resolutions[k];
    const OrvexGrid &g = ds->grid();
    int tile = static_cast<int>(by * res.nlon_tiles + bx);
    unsigned char *samples = nullptr;
    elog_clear_register(0);
    if (map.holdTileGrid(k, tile, &samples) != 0) {
        report_failure(CPLE_FileIO, "cannot read tile " + std::to_string(tile) + " of resolution " +
                                        std::to_string(k));
        return CE_Failure;
    }
    size_t n = static_cast<size_t>(g.nlon_per_tile) * static_cast<size_t>(g.nlat_per_tile);
    unsigned char *out = static_cast<unsigned char *>(image);
    if (!colour_) {
        memcpy(out, samples, n * 2);
        /* Big-endian raw grids are handed out as stored. */
        if (res.data_type == ORVEX_DATA_DEMB)
            for (size_t i = 0; i < n; i++) std::swap(out[2 * i], out[2 * i + 1]);
    } else {
        channel(samples, n, nBand, out);
        fill_other_bands(bx, by, samples, n);
    }
    map.releaseTileGrid(k, tile);
    /* GDAL keeps the block in its own cache: the library's copy of the
     * tile goes at once (held tiles of other threads stay), so that memory
     * is reused rather than fresh pages touched for every tile, and no
     * tile is held twice. */
    map.cleanCache(0, 0);
    return CE_None;
}

/* A colour tile's samples are interleaved: while it is at hand, the same
 * block of the other bands is filled too, so that each tile is inflated
 * once however small the library's cache is. */
void OrxRasterBand::fill_other_bands(int bx, int by, const unsigned char *samples, size_t n)
{
    for (int b = 1; b <= poDS->GetRasterCount(); b++) {
        if (b == nBand) continue;
        GDALRasterBand *other = poDS->GetRasterBand(b);
        GDALRasterBlock *block = other->TryGetLockedBlockRef(bx, by);
        if (block) { /* already cached */
            block->DropLock();
            continue;
        }
        block = other->GetLockedBlockRef(bx, by, TRUE);
        if (!block) continue;
        channel(samples, n, b, static_cast<unsigned char *>(block->GetDataRef()));
        block->DropLock();
    }
}

void OrxRasterBand::channel(const unsigned char *samples, size_t n, int band, unsigned char *out)
{
    const unsigned char *from = samples + (band - 1);
    for (size_t i = 0; i < n; i++) out[i] = from[3 * i];
}

bool close_to(double a, double b, double tolerance)
{
    return std::fabs(a - b) <= tolerance;
}

/* Whether grid j covers grid k's area at f times its step. */
bool same_area(const OrvexGrid &k, const OrvexGrid &j, long f)
{
    double tol_lon = 1e-9 * std::fabs(j.dlon), tol_lat = 1e-9 * std::fabs(j.dlat);
    return close_to(j.dlon, f * k.dlon, tol_lon + 1e-12) && close_to(j.dlat, f * k.dlat, tol_lat + 1e-12) &&
           close_to(j.lon_start, k.lon_start, std::fabs(j.dlon)) &&
           close_to(j.lat_start, k.lat_start, std::fabs(j.dlat)) && std::labs(j.nlon * f - k.nlon) < 2 * f &&
           std::labs(j.nlat * f - k.nlat) < 2 * f && (j.nlon < k.nlon || j.nlat < k.nlat);
}

}  // namespace

bool raster_shape_ok(const Orvex &map, long k, std::string *why)
{
    const OrvexGrid *g = grid_at(map, k);
    if (!g) {
        *why = "resolution " + std::to_string(k) + " is not a grid";
        return false;
    }
    const OrvexResolution &res = map.frame.resolutions[k];
    if (g->nlon < 1 || g->nlat < 1 || g->nlon > INT_MAX || g->nlat > INT_MAX || g->nlon_per_tile < 1 ||
        g->nlat_per_tile < 1 || g->nlon_per_tile > INT_MAX || g->nlat_per_tile > INT_MAX) {
        *why = "resolution " + std::to_string(k) + " has " + std::to_string(g->nlon) + " x " +
               std::to_string(g->nlat) + " samples in tiles of " + std::to_string(g->nlon_per_tile) + " x " +
               std::to_string(g->nlat_per_tile) + ", not a raster";
        return false;
    }
    /* Every block must be a tile of the index (numbered in an int, as the
     * library numbers them), and a block's samples fit the bytes a buffer
     * can count (both counts are ints here: the product fits a long). */
    long bytes = g->nlon_per_tile * g->nlat_per_tile;
    if ((g->nlon - 1) / g->nlon_per_tile >= res.nlon_tiles || (g->nlat - 1) / g->nlat_per_tile >= res.nlat_tiles ||
        bytes > INT_MAX / 3 || res.ntiles > INT_MAX || !std::isfinite(g->dlon) || !std::isfinite(g->dlat) ||
        g->dlon == 0 || g->dlat == 0 || !std::isfinite(g->lon_start) || !std::isfinite(g->lat_start)) {
        *why = "resolution " + std::to_string(k) + " has a grid its tiles do not cover";
        return false;
    }
    return true;
}

std::vector<long> overview_resolutions(const Orvex &map, long k)
{
    std::vector<long> found;
    const OrvexGrid *base = grid_at(map, k);
    if (!base || base->decimation_factor < 1) return found;
    const OrvexResolution &bres = map.frame.resolutions[k];
    std::string source = field_text(bres.source.fname, sizeof bres.source.fname);
    std::string why;
    for (long j = 0; j < map.frame.nresolutions; j++) {
        const OrvexGrid *g = grid_at(map, j);
        if (j == k || !g || g->content != base->content || g->decimation_factor <= base->decimation_factor ||
            g->decimation_factor % base->decimation_factor != 0)
            continue;
        const OrvexResolution &res = map.frame.resolutions[j];
        if (field_text(res.source.fname, sizeof res.source.fname) != source ||
            res.source.data_type != bres.source.data_type)
            continue;
        if (!same_area(*base, *g, g->decimation_factor / base->decimation_factor) || !raster_shape_ok(map, j, &why))
            continue;
        found.push_back(j);
    }
    /* Coarsest last, one resolution a decimation. */
    std::stable_sort(found.begin(), found.end(), [&](long a, long b) {
        return grid_at(map, a)->decimation_factor < grid_at(map, b)->decimation_factor;
    });
    found.erase(std::unique(found.begin(), found.end(),
                            [&](long a, long b) {
                                return grid_at(map, a)->decimation_factor == grid_at(map, b)->decimation_factor;
                            }),
                found.end());
    return found;
}

OrxRasterDataset::OrxRasterDataset(const MapHandle &map, long k) : map_(map), k_(k)
{
    srs_.SetWellKnownGeogCS("WGS84");
    srs_.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
}

OrxRasterDataset::~OrxRasterDataset()
{
    FlushCache(true);
    overviews_.clear();
}

OrxRasterDataset *OrxRasterDataset::create(const MapHandle &map, const std::string &path, long k,
                                           bool with_overviews)
{
    std::string why;
    if (!raster_shape_ok(*map, k, &why)) {
        CPLError(CE_Failure, CPLE_OpenFailed, "%s: cannot open %s as a raster: %s", kDriverName, path.c_str(),
                 why.c_str());
        return nullptr;
    }
    auto ds = std::unique_ptr<OrxRasterDataset>(new OrxRasterDataset(map, k));
    const OrvexGrid &g = ds->grid();
    ds->nRasterXSize = static_cast<int>(g.nlon);
    ds->nRasterYSize = static_cast<int>(g.nlat);
    ds->eAccess = GA_ReadOnly;
    bool colour = g.content != 1;
    for (int b = 1; b <= (colour ? 3 : 1); b++) ds->SetBand(b, new OrxRasterBand(ds.get(), b, colour));
    ds->describe(path);
    if (with_overviews)
        ds->find_overviews(path);
    else
        ds->nPamFlags |= GPF_DISABLED;
    return ds.release();
}

void OrxRasterDataset::keep_side_file(const std::string &map_path)
{
    SetPhysicalFilename(map_path.c_str());
    SetSubdatasetName(std::to_string(k_).c_str());
    TryLoadXML();
}

void OrxRasterDataset::describe(const std::string &path)
{
    const OrvexResolution &res = map_->frame.resolutions[k_];
    const OrvexGrid &g = grid();
    SetMetadataItem("NAME", field_text(res.name, sizeof res.name).c_str());
    SetMetadataItem("LABEL", field_text(res.resolution, sizeof res.resolution).c_str());
    SetMetadataItem("SOURCE", field_text(res.source.fname, sizeof res.source.fname).c_str());
    SetMetadataItem("RESOLUTION_INDEX", std::to_string(k_).c_str());
    SetMetadataItem("DECIMATION", std::to_string(g.decimation_factor).c_str());
    SetMetadataItem("CONTENT", g.content == 1 ? "elevation" : "colour");
    /* The range of a map's grid is that of its tiles' index entries
     * (no-data aside); raw grids record none. */
    long zmin = ORVEX_NODATA, zmax = ORVEX_NODATA;
    for (long t = 0; g.content == 1 && res.data_type == ORVEX_DATA_ORX && g.tiles && t < res.ntiles; t++) {
        const OrvexGridTile &tile = g.tiles[t];
        if (tile.zmin != ORVEX_NODATA && (zmin == ORVEX_NODATA || tile.zmin < zmin)) zmin = tile.zmin;
        if (tile.zmax != ORVEX_NODATA && (zmax == ORVEX_NODATA || tile.zmax > zmax)) zmax = tile.zmax;
    }
    if (zmin != ORVEX_NODATA) SetMetadataItem("ELEVATION_MIN", std::to_string(zmin).c_str());
    if (zmax != ORVEX_NODATA) SetMetadataItem("ELEVATION_MAX", std::to_string(zmax).c_str());
    SetMetadataItem("INTERLEAVE", "PIXEL", "IMAGE_STRUCTURE");
    if (g.compressed) SetMetadataItem("COMPRESSION", "DEFLATE", "IMAGE_STRUCTURE");
    SetDescription(path.c_str());
}

void OrxRasterDataset::find_overviews(const std::string &path)
{
    for (long j : overview_resolutions(*map_, k_)) {
        OrxRasterDataset *ov = create(map_, path, j, false);
        if (ov) overviews_.emplace_back(ov);
    }
}

OrxRasterDataset *OrxRasterDataset::overview(int i) const
{
    if (i < 0 || i >= overview_count()) return nullptr;
    return overviews_[static_cast<size_t>(i)].get();
}

CPLErr OrxRasterDataset::GetGeoTransform(double *transform)
{
    const OrvexGrid &g = grid();
    orvextool::cell_transform(orvextool::GridPlacement{g.lon_start, g.dlon, g.lat_start, g.dlat}, transform);
    return CE_None;
}

const OGRSpatialReference *OrxRasterDataset::GetSpatialRef() const
{
    return &srs_;
}

}  // namespace orxdriver
