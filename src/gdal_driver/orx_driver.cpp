// The GDAL driver of map files: a map opens read-only through the library
// as a list of raster subdatasets (ORX:"file":K, one a grid resolution)
// and a vector layer for each vector resolution; a subdataset name opens
// that grid as a raster whose overviews are its coarser resolutions.
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "orx_raster.h"
#include "orx_vector.h"

namespace orxdriver {

namespace {

const char kMagic[] = "ORX0    ";
const char kPrefix[] = "ORX:";

/* The map behind a plain file name: its grids as subdatasets, its vector
 * resolutions as layers. */
class OrxMapDataset final : public GDALDataset {
public:
    OrxMapDataset(const MapHandle &map, const std::string &path, bool rasters, bool vectors) : map_(map)
    {
        SetDescription(path.c_str());
        eAccess = GA_ReadOnly;
        /* The container has no raster of its own, only subdatasets. */
        nRasterXSize = 0;
        nRasterYSize = 0;
        if (rasters) list_grids(path);
        if (vectors) add_layers();
    }

    int GetLayerCount() override { return static_cast<int>(layers_.size()); }
    OGRLayer *GetLayer(int i) override
    {
        return i < 0 || i >= GetLayerCount() ? nullptr : layers_[static_cast<size_t>(i)].get();
    }
    int TestCapability(const char *) override { return FALSE; }
    bool empty() const { return layers_.empty() && subdatasets_.empty(); }

private:
    void list_grids(const std::string &path)
    {
        std::string why;
        int n = 0;
        for (long k = 0; k < map_->frame.nresolutions; k++) {
            if (!raster_shape_ok(*map_, k, &why)) continue;
            const OrvexResolution &res = map_->frame.resolutions[k];
            n++;
            std::string key = "SUBDATASET_" + std::to_string(n);
            std::string name = std::string(kPrefix) + "\"" + path + "\":" + std::to_string(k);
            std::string desc = "[" + std::to_string(grid_at(*map_, k)->nlon) + "x" +
                               std::to_string(grid_at(*map_, k)->nlat) + "] " +
                               field_text(res.name, sizeof res.name) + " " +
                               field_text(res.resolution, sizeof res.resolution) + " (resolution " +
                               std::to_string(k) + ", " + (grid_at(*map_, k)->content == 1 ? "Int16" : "RGB Byte") +
                               ")";
            subdatasets_.SetNameValue((key + "_NAME").c_str(), name.c_str());
            subdatasets_.SetNameValue((key + "_DESC").c_str(), desc.c_str());
        }
        if (n > 0) SetMetadata(subdatasets_.List(), "SUBDATASETS");
    }

    void add_layers()
    {
        for (long k = 0; k < map_->frame.nresolutions; k++) {
            const OrvexResolution &res = map_->frame.resolutions[k];
            if (res.map_type != ORVEX_MAP_VECTOR || !res.data) continue;
            std::string name = field_text(res.name, sizeof res.name);
            if (name.empty()) name = "segments";
            /* Layers are found by name: a repeated one gets its index. */
            for (auto &l : layers_)
                if (name == l->GetName()) name += "_" + std::to_string(k);
            layers_.emplace_back(new OrxLayer(map_, k, name));
        }
    }

    MapHandle map_;
    CPLStringList subdatasets_;
    std::vector<std::unique_ptr<OrxLayer>> layers_;
};

bool has_magic(GDALOpenInfo *info)
{
    return info->nHeaderBytes >= 8 && memcmp(info->pabyHeader, kMagic, 8) == 0;
}

int identify(GDALOpenInfo *info)
{
    if (STARTS_WITH_CI(info->pszFilename, kPrefix)) return TRUE;
    return has_magic(info);
}

/* ORX:"file":K or ORX:file:K into its file and resolution; false when
 * the name is not of that shape. */
bool parse_subdataset(const char *name, std::string *path, long *k)
{
    std::string rest(name + strlen(kPrefix));
    std::string index;
    if (!rest.empty() && rest[0] == '"') {
        size_t close = rest.find('"', 1);
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return false;
        *path = rest.substr(1, close - 1);
        index = rest.substr(close + 2);
    } else {
        size_t colon = rest.rfind(':');
        if (colon == std::string::npos) return false;
        *path = rest.substr(0, colon);
        index = rest.substr(colon + 1);
    }
    char *end = nullptr;
    errno = 0;
    long value = strtol(index.c_str(), &end, 10);
    if (index.empty() || *end != '\0' || errno != 0 || value < 0 || path->empty()) return false;
    *k = value;
    return true;
}

GDALDataset *open_subdataset(GDALOpenInfo *info)
{
    std::string path;
    long k = -1;
    if (!parse_subdataset(info->pszFilename, &path, &k)) {
        CPLError(CE_Failure, CPLE_OpenFailed, "%s: '%s' is not a subdataset name (ORX:\"FILE\":RESOLUTION)",
                 kDriverName, info->pszFilename);
        return nullptr;
    }
    MapHandle map = open_map(path);
    if (!map) return nullptr;
    if (k >= map->frame.nresolutions) {
        CPLError(CE_Failure, CPLE_OpenFailed, "%s: %s has %ld resolutions, no resolution %ld", kDriverName,
                 path.c_str(), map->frame.nresolutions, k);
        return nullptr;
    }
    OrxRasterDataset *ds = OrxRasterDataset::create(map, info->pszFilename, k, true);
    if (!ds) return nullptr;
    ds->keep_side_file(path);
    return ds;
}

GDALDataset *open(GDALOpenInfo *info)
{
    if (!identify(info)) return nullptr;
    if (info->eAccess == GA_Update) {
        CPLError(CE_Failure, CPLE_NotSupported, "%s: map files open read-only", kDriverName);
        return nullptr;
    }
    if (STARTS_WITH_CI(info->pszFilename, kPrefix)) return open_subdataset(info);
    /* The library reads files it maps itself: a file only GDAL's virtual
     * file systems reach is not one it can open. */
    if (info->fpL == nullptr || STARTS_WITH(info->pszFilename, "/vsi")) {
        CPLError(CE_Failure, CPLE_OpenFailed, "%s: %s: map files are read from real files only", kDriverName,
                 info->pszFilename);
        return nullptr;
    }
    MapHandle map = open_map(info->pszFilename);
    if (!map) return nullptr;
    bool rasters = (info->nOpenFlags & GDAL_OF_RASTER) != 0, vectors = (info->nOpenFlags & GDAL_OF_VECTOR) != 0;
    auto ds = std::make_unique<OrxMapDataset>(map, info->pszFilename, rasters, vectors);
    /* A map with nothing of the kind asked for is no dataset of it. */
    if (ds->empty()) return nullptr;
    return ds.release();
}

}  // namespace

}  // namespace orxdriver

extern "C" {

void GDALRegister_ORX()
{
    if (!GDAL_CHECK_VERSION("ORX")) return;
    if (GDALGetDriverByName(orxdriver::kDriverName) != nullptr) return;
    GDALDriver *driver = new GDALDriver();
    driver->SetDescription(orxdriver::kDriverName);
    driver->SetMetadataItem(GDAL_DCAP_RASTER, "YES");
    driver->SetMetadataItem(GDAL_DCAP_VECTOR, "YES");
    driver->SetMetadataItem(GDAL_DMD_LONGNAME, "Tiled multi-resolution map file (.orx)");
    driver->SetMetadataItem(GDAL_DMD_EXTENSION, "orx");
    driver->SetMetadataItem(GDAL_DMD_SUBDATASETS, "YES");
    driver->SetMetadataItem(GDAL_DCAP_VIRTUALIO, "NO");
    driver->pfnIdentify = orxdriver::identify;
    driver->pfnOpen = orxdriver::open;
    GetGDALDriverManager()->RegisterDriver(driver);
}

void GDALRegisterMe()
{
    GDALRegister_ORX();
}

}
