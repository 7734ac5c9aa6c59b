// The maps that `orvex serve` serves and what it makes of them: web tiles
// drawn through the same code as `orvex render`, and the JSON documents.
// Everything here is safe to call from any number of threads at once.
#ifndef ORVEX_TOOL_SERVE_H
#define ORVEX_TOOL_SERVE_H

#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "Orvex.h"
#include "draw.h"

namespace orvexcli {

/* Drawn tiles as PNG bytes, the least recently used dropped first once
 * they hold more than a byte budget. */
class PngCache {
public:
    explicit PngCache(size_t budget) : budget_(budget) {}
    bool get(const std::string &key, std::string *png);
    void put(const std::string &key, const std::string &png);

private:
    std::mutex mutex_;
    size_t budget_, bytes_ = 0;
    std::list<std::pair<std::string, std::string>> order_; /* newest first */
    std::unordered_map<std::string, std::list<std::pair<std::string, std::string>>::iterator> index_;
};

/* One served map. The map opened at start answers the questions about its
 * resolutions; each thread that draws or queries opens its own object on
 * the same file, so that trimming the shared cache on one thread never
 * frees tiles another is reading. */
class ServedMap {
public:
    std::string name;  /* in URLs: letters, digits, '.', '_', '-' */
    std::string path;  /* the file, as opened */
    std::string etag_salt; /* changes when the file does */
    Orvex map;
    int minzoom = 0, maxzoom = 0;

    /* The map object of the calling thread, opened on first use; null
     * (message registered) when the file cannot be opened again. */
    Orvex *own();
    /* The rings of these vector resolutions, collected once. */
    const std::vector<Ring> &rings(const std::vector<int> &resolutions);

private:
    std::mutex rings_mutex_;
    std::map<std::vector<int>, std::unique_ptr<std::vector<Ring>>> rings_;
};

/* What a tile shows: "auto" (the resolutions render would choose at the
 * tile's pixel size), or one resolution: a grid with the vectors chosen
 * for it, or a vector resolution alone. */
struct TileRequest {
    int z = 0;
    long x = 0, y = 0;
    int layer = -1; /* -1: auto */
    /* Elevations as Terrarium pixels rather than a picture: the elevation
     * grids by latitude, or `layer` when it is one. */
    bool terrain = false;
};

struct ServeSettings {
    int threads = 16;
    long cache_mb = 256;
    const char *command = "serve"; /* names the command in messages */
};

class TileServer {
public:
    explicit TileServer(const ServeSettings &settings);
    /* Opens a map to serve (null: the default map). Returns 0, or -1 after
     * printing why. */
    int add(const char *name);
    ServedMap *find(const std::string &name);
    const std::vector<std::unique_ptr<ServedMap>> &maps() const { return maps_; }

    /* True when the map has the tile (zoom, column, row and layer). */
    static bool has_tile(ServedMap &m, const TileRequest &t);
    /* The tile as PNG. Returns 0; 1 when the map has no such tile (zoom,
     * column, row or layer out of range); -1 when a tile of the map cannot
     * be read (message registered). */
    int tile(ServedMap &m, const TileRequest &t, std::string *png);
    /* The same tile drawn afresh on the calling thread (no drawn tile kept),
     * as tile archives are written. Returns 0, or -1 (registered). */
    static int draw(ServedMap &m, const TileRequest &t, std::string *png);
    static std::string etag(const ServedMap &m, const TileRequest &t);

    /* The JSON documents; `base` is the server's address as clients see it. */
    std::string maps_json() const;
    std::string tilejson(const ServedMap &m, const std::string &base, bool terrain = false) const;
    /* Returns 0, or -1 when a grid tile cannot be read. */
    int query_json(ServedMap &m, double lat, double lon, std::string *json);

private:
    ServeSettings settings_;
    PngCache pngs_;
    std::vector<std::unique_ptr<ServedMap>> maps_;
};

/* The page at "/", and the Leaflet files served under /leaflet/ (empty
 * when the build had no Leaflet). */
const std::string &serve_page();
bool leaflet_file(const std::string &name, std::string *bytes, std::string *type);

/* The map's name of a served map's TileJSON request: true, and the suffix
 * ".terrain" taken off *name, for the terrain tiles' TileJSON. */
bool terrain_name(std::string *name);

/* Text quoted as a JSON string. */
std::string json_string(const std::string &text);

}  // namespace orvexcli

#endif
