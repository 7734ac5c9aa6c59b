// The JSON documents of `orvex serve`: the maps and their resolutions (as
// `orvex info` tells them), TileJSON for web-map clients, and a position's
// samples in every resolution (as `orvex query` tells them).
#include <stdio.h>

#include "common.h"
#include "query.h"
#include "serve.h"

namespace orvexcli {

namespace {

std::string number(double v)
{
    char text[40];
    snprintf(text, sizeof text, "%.10g", v);
    return text;
}

std::string resolution_json(const OrvexResolution &r, int index)
{
    std::string out = "{\"index\":" + std::to_string(index) + ",\"name\":" + json_string(field_text(r.name, sizeof r.name)) +
                      ",\"label\":" + json_string(field_text(r.resolution, sizeof r.resolution)) + ",\"type\":";
    if (const OrvexGrid *g = grid_of(r))
        out += std::string("\"grid\",\"content\":\"") + (g->content == 1 ? "elevation" : "colour") +
               "\",\"columns\":" + std::to_string(g->nlon) + ",\"rows\":" + std::to_string(g->nlat);
    else if (vector_of(r)) out += "\"vector\"";
    else out += "\"none\"";
    return out + ",\"degrees_per_pixel\":" + number(r.degrees_per_pixel) + ",\"tiles\":" + std::to_string(r.ntiles) + "}";
}

std::string map_json(const ServedMap &m)
{
    std::string out = "{\"name\":" + json_string(m.name) + ",\"minzoom\":" + std::to_string(m.minzoom) +
                      ",\"maxzoom\":" + std::to_string(m.maxzoom) + ",\"tilejson\":" +
                      json_string("/tiles/" + m.name + ".json") + ",\"resolutions\":[";
    for (int i = 0; i < static_cast<int>(m.map.frame.nresolutions); i++)
        out += (i ? "," : "") + resolution_json(m.map.frame.resolutions[i], i);
    return out + "]}";
}

std::string answer_json(const QueryAnswer &a)
{
    const Sample &s = a.sample;
    if (a.vector && a.tile >= 0)
        return ",\"tile\":" + std::to_string(a.tile) + ",\"tile_row\":" + std::to_string(a.tilerow) + ",\"tile_column\":" +
               std::to_string(a.tilecol) + ",\"segments\":" + std::to_string(a.segments);
    if (!a.grid || s.tile < 0) return ",\"outside\":true";
    std::string out = ",\"tile\":" + std::to_string(s.tile) + ",\"tile_row\":" + std::to_string(s.tilerow) +
                      ",\"tile_column\":" + std::to_string(s.tilecol);
    if (!s.inside) return out + ",\"outside\":true";
    out += ",\"row\":" + std::to_string(s.row) + ",\"column\":" + std::to_string(s.col);
    if (!s.elevation)
        return out + ",\"colour\":[" + std::to_string(s.rgb[0]) + "," + std::to_string(s.rgb[1]) + "," +
               std::to_string(s.rgb[2]) + "]";
    return out + ",\"elevation\":" + (s.z == ORVEX_NODATA ? std::string("null") : std::to_string(s.z));
}

}  // namespace

std::string json_string(const std::string &text)
{
    std::string out = "\"";
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') out += std::string("\\") + ch;
        else if (c < 32 || c >= 127) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else out += ch;
    }
    return out + "\"";
}

std::string TileServer::maps_json() const
{
    std::string out = "{\"maps\":[";
    for (size_t i = 0; i < maps_.size(); i++) out += (i ? "," : "") + map_json(*maps_[i]);
    return out + "]}";
}

bool terrain_name(std::string *name)
{
    const std::string suffix = ".terrain";
    if (name->size() <= suffix.size() || name->compare(name->size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    name->resize(name->size() - suffix.size());
    return true;
}

std::string TileServer::tilejson(const ServedMap &m, const std::string &base, bool terrain) const
{
    /* Terrain tiles say how their pixels hold metres, as raster-dem
     * clients read it. */
    std::string tiles = base + "/tiles/" + m.name + "/{z}/{x}/{y}" + (terrain ? ".terrain.png" : ".png");
    return "{\"tilejson\":\"3.0.0\",\"name\":" + json_string(m.name) + ",\"scheme\":\"xyz\",\"tiles\":[" +
           json_string(tiles) + "]," + (terrain ? "\"encoding\":\"terrarium\",\"tileSize\":256," : "") +
           "\"minzoom\":" + std::to_string(m.minzoom) +
           ",\"maxzoom\":" + std::to_string(m.maxzoom) +
           ",\"bounds\":[-180,-85.0511287798,180,85.0511287798],\"center\":[0,0,1]}";
}

int TileServer::query_json(ServedMap &m, double lat, double lon, std::string *json)
{
    Orvex *own = m.own();
    if (!own) return -1;
    std::string out = "{\"map\":" + json_string(m.name) + ",\"lat\":" + number(lat) + ",\"lon\":" + number(lon) +
                      ",\"resolutions\":[";
    for (int i = 0; i < static_cast<int>(own->frame.nresolutions); i++) {
        QueryAnswer a;
        int rc = query_resolution(*own, i, lat, lon, &a);
        if (rc != 0) return -1;
        const OrvexResolution &r = own->frame.resolutions[i];
        out += std::string(i ? "," : "") + "{\"index\":" + std::to_string(i) + ",\"name\":" +
               json_string(field_text(r.name, sizeof r.name)) + ",\"type\":" +
               (a.grid ? "\"grid\"" : a.vector ? "\"vector\"" : "\"none\"") + answer_json(a) + "}";
    }
    *json = out + "]}";
    return 0;
}

}  // namespace orvexcli
