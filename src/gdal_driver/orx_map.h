// What the GDAL driver's datasets share: one opened map, held by every
// dataset and layer made from it, and the library's reasons handed to GDAL.
#ifndef ORVEX_GDAL_DRIVER_ORX_MAP_H
#define ORVEX_GDAL_DRIVER_ORX_MAP_H

#include <memory>
#include <string>

#include "Orvex.h"

namespace orxdriver {

/* The driver's short name, as GDAL programs show it. */
extern const char kDriverName[];

using MapHandle = std::shared_ptr<Orvex>;

/* Opens a map file for reading through the library, whose checks all run
 * first; null with a CPLError (the library's reason) when it fails. */
MapHandle open_map(const std::string &path);

/* Reports a failure to GDAL: "ORX: what: " and the messages of this
 * thread's error register, which is emptied. */
void report_failure(int cpl_error, const std::string &what);

/* A record's text field: up to its first NUL or its size. */
std::string field_text(const char *field, size_t size);

/* The grid of resolution k, or null when it is no grid resolution. */
const OrvexGrid *grid_at(const Orvex &map, long k);

}  // namespace orxdriver

#endif
