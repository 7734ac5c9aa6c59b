#include "gdal_common.h"

#include <cpl_conv.h>
#include <cpl_error.h>

#include "Orvex.h"
#include "gdal_io.h"

namespace orvexcli {

namespace {

void CPL_STDCALL to_register(CPLErr level, CPLErrorNum, const char *message)
{
    if (level >= CE_Failure) orvex_register_error(0, "GDAL: %s\n", message);
}

}  // namespace

const char kNoGdal[] = "this orvex was built without GDAL, which reads and writes GeoTIFF, netCDF, "
                       "GeoPackage and the other formats of GIS programs";

bool gdal_built_in()
{
    return true;
}

void gdal_start()
{
    static bool started = false;
    if (started) return;
    started = true;
    if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr)) CPLSetConfigOption("GDAL_CACHEMAX", "64");
    GDALAllRegister();
}

GdalErrors::GdalErrors()
{
    gdal_start();
    CPLPushErrorHandler(to_register);
}

GdalErrors::~GdalErrors()
{
    CPLPopErrorHandler();
}

int Dataset::close()
{
    if (!h_) return 0;
    CPLErrorReset();
    GDALClose(h_);
    h_ = nullptr;
    return CPLGetLastErrorType() >= CE_Failure ? -1 : 0;
}

char **OptionList::get()
{
    pointers_.clear();
    for (std::string &s : items_) pointers_.push_back(&s[0]);
    pointers_.push_back(nullptr);
    return pointers_.data();
}

bool gdal_is_raster(const std::string &path)
{
    gdal_start();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    GDALDriverH driver = GDALIdentifyDriverEx(path.c_str(), GDAL_OF_RASTER, nullptr, nullptr);
    CPLPopErrorHandler();
    return driver != nullptr;
}

}  // namespace orvexcli
