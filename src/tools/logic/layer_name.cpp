#include "layer_name.h"

#include <strings.h>

namespace orvextool {

std::string layer_name_for(const std::string &driver, const std::string &name)
{
    if (name.empty()) return "segments";
    if (strcasecmp(driver.c_str(), "GPKG") == 0 && strncasecmp(name.c_str(), "gpkg", 4) == 0) return "res_" + name;
    return name;
}

}  // namespace orvextool
