// A grid resolution as a GDAL raster: Int16 elevation (no data -9999) or
// three Byte bands of colour, one block per map tile, inflated through the
// library's shared tile cache; the coarser resolutions of the same source
// are its overviews.
#ifndef ORVEX_GDAL_DRIVER_ORX_RASTER_H
#define ORVEX_GDAL_DRIVER_ORX_RASTER_H

#include <gdal_pam.h>

#include <memory>
#include <vector>

#include "orx_map.h"

namespace orxdriver {

class OrxRasterDataset final : public GDALPamDataset {
public:
    /* The raster of grid resolution k of the map, with its overviews when
     * `with_overviews`; null with a CPLError when the resolution is no grid
     * or its shape cannot be a raster. */
    static OrxRasterDataset *create(const MapHandle &map, const std::string &path, long k, bool with_overviews);
    ~OrxRasterDataset() override;
    /* What GIS programs add (statistics, a style) goes to the map file's
     * side file, under the resolution's name; the map itself is never
     * written. */
    void keep_side_file(const std::string &map_path);

    CPLErr GetGeoTransform(double *transform) override;
    const OGRSpatialReference *GetSpatialRef() const override;

    const MapHandle &map() const { return map_; }
    long resolution() const { return k_; }
    const OrvexGrid &grid() const { return *grid_at(*map_, k_); }
    int overview_count() const { return static_cast<int>(overviews_.size()); }
    OrxRasterDataset *overview(int i) const;

private:
    OrxRasterDataset(const MapHandle &map, long k);
    void describe(const std::string &path);
    void find_overviews(const std::string &path);

    MapHandle map_;
    long k_;
    OGRSpatialReference srs_;
    std::vector<std::unique_ptr<OrxRasterDataset>> overviews_;
};

/* The resolutions that may serve as overviews of grid resolution k: of the
 * same source and kind, at whole multiples of its decimation, covering the
 * same area; coarsest last. */
std::vector<long> overview_resolutions(const Orvex &map, long k);

/* Whether grid resolution k can be a raster: counts within GDAL's ints and
 * tiles enough for every block. Registers nothing; the reason on refusal. */
bool raster_shape_ok(const Orvex &map, long k, std::string *why);

}  // namespace orxdriver

#endif
