// The command built without GDAL: its formats are refused with a message
// that says why.
#include "gdal_io.h"

namespace orvexcli {

namespace {

int refuse()
{
    orvex_register_error(0, "orvex: %s.\n", kNoGdal);
    return -1;
}

}  // namespace

const char kNoGdal[] = "this orvex was built without GDAL, which reads and writes GeoTIFF, netCDF, "
                       "GeoPackage and the other formats of GIS programs";

bool gdal_built_in()
{
    return false;
}

bool gdal_is_raster(const std::string &)
{
    return false;
}

struct RasterGrid::Source {};

RasterGrid::RasterGrid() = default;
RasterGrid::~RasterGrid() = default;

const std::string &RasterGrid::path() const
{
    static const std::string none;
    return none;
}

int RasterGrid::convert(const std::string &, const std::string &, const RasterOptions &)
{
    return refuse();
}

std::string RasterGrid::counts() const
{
    return "";
}

const OrvexRowFeed *RasterGrid::row_feed() const
{
    return nullptr;
}

int RasterGrid::read_sample(long, long)
{
    return refuse();
}

long RasterGrid::scratch_peak() const
{
    return 0;
}

long RasterGrid::rows_read() const
{
    return 0;
}

std::string RasterGrid::describe(const std::string &source) const
{
    return "'" + source + "' (not read)";
}

int export_grid(Orvex &, int, const orvextool::ExportOptions &, OutputGroup &, const std::string &)
{
    return refuse();
}

long export_vector(Orvex &, int, const orvextool::Region *, const std::string &, const std::string &)
{
    return refuse();
}

int ogr_import(Dbptr, const std::string &, const std::string &, const std::string &, VectorCounts *)
{
    return refuse();
}

}  // namespace orvexcli
