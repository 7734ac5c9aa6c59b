// The description of a tile archive, as TileJSON and as MBTiles metadata.
#include <math.h>
#include <stdio.h>

#include <algorithm>

#include "archive.h"
#include "json_text.h"

namespace orvextiles {

namespace {

const double kMercatorLimit = 85.0511287798066;

std::string number(double v)
{
    char text[40];
    snprintf(text, sizeof text, "%.10g", v);
    return text;
}

}  // namespace

void set_bounds(const orvextool::Region &region, ArchiveInfo *info)
{
    bool across = region.east > 180;
    info->west = across ? -180 : region.west;
    info->east = across ? 180 : region.east;
    info->south = std::max(-kMercatorLimit, region.south);
    info->north = std::min(kMercatorLimit, region.north);
    if (info->north < info->south) info->north = info->south;
    double lon = (region.west + region.east) / 2;
    info->center_lon = lon > 180 ? lon - 360 : lon;
    info->center_lat = (info->south + info->north) / 2;
    /* The zoom at which the region's width fills about one tile. */
    double width = std::max(region.width(), 1e-6);
    int z = static_cast<int>(floor(log2(360.0 / width)));
    info->center_zoom = std::max(info->minzoom, std::min(info->maxzoom, z));
}

std::string tilejson_text(const ArchiveInfo &info)
{
    std::string out = "{\"tilejson\":\"3.0.0\",\"name\":";
    orvextool::append_json_string(&out, info.name);
    out += ",\"description\":";
    orvextool::append_json_string(&out, info.description);
    if (!info.attribution.empty()) {
        out += ",\"attribution\":";
        orvextool::append_json_string(&out, info.attribution);
    }
    out += ",\"format\":";
    orvextool::append_json_string(&out, info.format);
    out += ",\"type\":";
    orvextool::append_json_string(&out, info.type);
    if (!info.encoding.empty()) {
        out += ",\"encoding\":";
        orvextool::append_json_string(&out, info.encoding);
    }
    out += ",\"scheme\":\"xyz\",\"minzoom\":" + std::to_string(info.minzoom) + ",\"maxzoom\":" +
           std::to_string(info.maxzoom) + ",\"bounds\":[" + number(info.west) + "," + number(info.south) + "," +
           number(info.east) + "," + number(info.north) + "],\"center\":[" + number(info.center_lon) + "," +
           number(info.center_lat) + "," + std::to_string(info.center_zoom) + "]}";
    return out;
}

std::vector<std::pair<std::string, std::string>> mbtiles_metadata(const ArchiveInfo &info)
{
    std::vector<std::pair<std::string, std::string>> rows = {
        {"name", info.name},
        {"format", info.format},
        {"type", info.type},
        {"version", "1.3"},
        {"description", info.description},
        {"minzoom", std::to_string(info.minzoom)},
        {"maxzoom", std::to_string(info.maxzoom)},
        {"bounds", number(info.west) + "," + number(info.south) + "," + number(info.east) + "," + number(info.north)},
        {"center", number(info.center_lon) + "," + number(info.center_lat) + "," + std::to_string(info.center_zoom)},
    };
    if (!info.attribution.empty()) rows.emplace_back("attribution", info.attribution);
    if (!info.encoding.empty()) rows.emplace_back("encoding", info.encoding);
    return rows;
}

}  // namespace orvextiles
