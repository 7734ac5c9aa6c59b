#include "export_layout.h"

#include <math.h>

#include <algorithm>
#include <utility>

#include "raster_values.h"

namespace orvextool {

namespace {

/* A sample this close (in steps) to an edge counts as on it. */
const double kEdge = 1e-6;

/* The stored run of columns meeting the region, trying the region's
 * longitudes and those a turn either way (a grid kept from 0 to 360
 * degrees meets a region given from -180 to 180). */
void stored_columns(const GridGeometry &g, const Region &r, long *col0, long *cols)
{
    for (double shift : {0.0, 360.0, -360.0}) {
        samples_within(g.lon_start, g.dlon, g.nlon, r.west + shift, r.east + shift, col0, cols);
        if (*cols > 0) return;
    }
}

/* The columns of a whole-circle grid from the first sample at or east of
 * `west` up to `east`, at most once round; *lon is the first one's
 * longitude, counted from `west`. */
void circle_columns(const GridGeometry &g, double west, double east, long *col0, long *cols, double *lon)
{
    double first = ceil((west - g.lon_start) / g.dlon - kEdge);
    double last = floor((east - g.lon_start) / g.dlon + kEdge);
    *cols = std::min(g.nlon, static_cast<long>(std::max(0.0, last - first + 1)));
    long k = static_cast<long>(fmod(first, static_cast<double>(g.nlon)));
    *col0 = k < 0 ? k + g.nlon : k;
    *lon = g.lon_start + first * g.dlon;
}

}  // namespace

bool whole_circle(const GridGeometry &g)
{
    return g.dlon > 0 && g.nlon > 1 && fabs(g.nlon * g.dlon - 360.0) <= 0.01 * g.dlon;
}

ExportLayout export_layout(const GridGeometry &g, const Region *region, bool keep_columns)
{
    ExportLayout out;
    if (region)
        samples_within(g.lat_start, g.dlat, g.nlat, region->south, region->north, &out.row0, &out.rows);
    else
        out.rows = g.nlat;
    double lon = 0;
    if (!keep_columns && whole_circle(g)) {
        double west = region ? region->west : -180.0;
        double east = region ? region->east : west + 360.0;
        circle_columns(g, west, east, &out.col0, &out.cols, &lon);
    } else {
        if (region)
            stored_columns(g, *region, &out.col0, &out.cols);
        else
            out.cols = g.nlon;
        lon = g.lon_start + out.col0 * g.dlon;
    }
    if (out.rows < 1 || out.cols < 1) {
        out.rows = out.cols = 0;
        return out;
    }
    cell_transform(GridPlacement{lon, g.dlon, g.lat_start + out.row0 * g.dlat, g.dlat}, out.transform);
    return out;
}

namespace {

/* Folder (with its slash, or empty) and base name of a path. */
std::pair<std::string, std::string> split_path(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {"", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool starts_with(const std::string &s, const std::string &head)
{
    return s.size() > head.size() && s.compare(0, head.size(), head) == 0;
}

}  // namespace

std::string side_file_name(const std::string &file, const std::string &temp_path, const std::string &final_path)
{
    auto f = split_path(file), t = split_path(temp_path), out = split_path(final_path);
    if (f.first != t.first || file == temp_path) return "";
    if (starts_with(f.second, t.second)) return final_path + f.second.substr(t.second.size());
    size_t tmp = t.second.rfind(".tmp-");
    if (tmp == std::string::npos) return "";
    /* ".x.asc" of ".x.asc.tmp-PID", and what replaced ".tmp-PID". */
    std::string stem = t.second.substr(0, tmp) + ".";
    if (!starts_with(f.second, stem)) return "";
    std::string suffix = f.second.substr(stem.size());
    size_t dot = out.second.find_last_of('.');
    std::string base = dot == std::string::npos || dot == 0 ? out.second : out.second.substr(0, dot);
    return out.first + base + "." + suffix;
}

std::string world_file_name(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    bool suffix = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1) && dot + 1 < path.size();
    if (!suffix) return path + ".wld";
    return path.substr(0, dot + 1) + path[dot + 1] + path.back() + "w";
}

}  // namespace orvextool
