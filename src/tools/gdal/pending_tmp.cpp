#include "gdal_io.h"
namespace orvexcli {
int export_grid(Orvex &, int, const orvextool::Region *, const std::string &, const std::string &) { return -1; }
long export_vector(Orvex &, int, const orvextool::Region *, const std::string &, const std::string &) { return -1; }
int ogr_import(Dbptr, const std::string &, const std::string &, const std::string &, VectorCounts *) { return -1; }
}
