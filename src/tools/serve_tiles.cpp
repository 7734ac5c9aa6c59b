// The served maps and their web tiles: zoom range, the resolutions a tile
// shows, drawing through the render code on the calling thread's own map
// object, and the drawn tiles kept as PNG.
#include <math.h>
#include <stdio.h>
#include <sys/stat.h>

#include "common.h"
#include "serve.h"

namespace orvexcli {

namespace {

const int kTileSize = 256;
const int kZoomLimit = 20;

double pixel_degrees(int z)
{
    return 360.0 / (kTileSize * ldexp(1.0, z));
}

/* Zoom 0 up to one step past the zoom whose pixels are as fine as the
 * finest grid (or, without grids, the finest vector resolution). */
int max_zoom(Orvex &map)
{
    double finest = 0;
    for (long type : {ORVEX_MAP_GRID, ORVEX_MAP_VECTOR}) {
        for (int k : resolutions_of_type(map, type, -1)) {
            double d = map.frame.resolutions[k].degrees_per_pixel;
            if (d > 0 && (finest == 0 || d < finest)) finest = d;
        }
        if (finest > 0) break;
    }
    if (finest <= 0) return 0;
    int z = 0;
    while (z < kZoomLimit && pixel_degrees(z) > finest * (1 + 1e-9)) z++;
    return z < kZoomLimit ? z + 1 : kZoomLimit;
}

/* Letters, digits, '.', '_' and '-' of the file's name less its ".orx". */
std::string url_name(const std::string &path)
{
    size_t slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".orx") == 0) base.resize(base.size() - 4);
    for (char &c : base)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') c = '_';
    return base.empty() ? "map" : base;
}

std::string file_salt(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return path;
    char text[96];
    snprintf(text, sizeof text, "%lld.%lld.%ld", static_cast<long long>(st.st_size),
             static_cast<long long>(st.st_mtim.tv_sec), static_cast<long>(st.st_mtim.tv_nsec));
    return text;
}

std::string tile_key(const ServedMap &m, const TileRequest &t)
{
    return m.name + "/" + std::to_string(t.z) + "/" + std::to_string(t.x) + "/" + std::to_string(t.y) + "/" +
           std::to_string(t.layer) + (t.terrain ? "/terrain" : "");
}

}  // namespace

bool PngCache::get(const std::string &key, std::string *png)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = index_.find(key);
    if (it == index_.end()) return false;
    order_.splice(order_.begin(), order_, it->second);
    *png = it->second->second;
    return true;
}

void PngCache::put(const std::string &key, const std::string &png)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (png.size() > budget_ || index_.count(key)) return;
    order_.emplace_front(key, png);
    index_[key] = order_.begin();
    bytes_ += png.size();
    while (bytes_ > budget_) {
        bytes_ -= order_.back().second.size();
        index_.erase(order_.back().first);
        order_.pop_back();
    }
}

Orvex *ServedMap::own()
{
    /* Freed when the thread ends; a server's threads end before it does. */
    thread_local std::map<const ServedMap *, std::unique_ptr<Orvex>> objects;
    std::unique_ptr<Orvex> &slot = objects[this];
    if (!slot) {
        std::unique_ptr<Orvex> fresh(new Orvex);
        if (open_map("serve", path.c_str(), fresh.get()) != 0) return nullptr;
        slot = std::move(fresh);
    }
    return slot.get();
}

const std::vector<Ring> &ServedMap::rings(const std::vector<int> &resolutions)
{
    std::lock_guard<std::mutex> lock(rings_mutex_);
    std::unique_ptr<std::vector<Ring>> &slot = rings_[resolutions];
    if (!slot) slot.reset(new std::vector<Ring>(collect_rings(map, resolutions)));
    return *slot;
}

TileServer::TileServer(const ServeSettings &settings)
    : settings_(settings), pngs_(static_cast<size_t>(settings.cache_mb) * (1u << 20) / 4)
{
    /* Three quarters of the memory for inflated map tiles, shared by every
     * drawing thread; the rest for drawn tiles. */
    orvex_cache_set_budget(static_cast<size_t>(settings.cache_mb) * (1u << 20) / 4 * 3);
}

int TileServer::add(const char *name)
{
    std::unique_ptr<ServedMap> m(new ServedMap);
    if (open_map(settings_.command, name, &m->map) != 0) return -1;
    m->path = m->map.fname;
    m->name = name ? url_name(m->path) : "default";
    for (int k = 2; find(m->name); k++) m->name = url_name(m->path) + "-" + std::to_string(k);
    m->etag_salt = file_salt(m->path);
    m->maxzoom = max_zoom(m->map);
    maps_.push_back(std::move(m));
    return 0;
}

ServedMap *TileServer::find(const std::string &name)
{
    for (std::unique_ptr<ServedMap> &m : maps_)
        if (m->name == name) return m.get();
    return nullptr;
}

std::string TileServer::etag(const ServedMap &m, const TileRequest &t)
{
    /* FNV-1a over the file's size and time and the tile's key. */
    unsigned long long h = 1469598103934665603ULL;
    for (char c : m.etag_salt + "|" + tile_key(m, t)) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    char text[24];
    snprintf(text, sizeof text, "\"%016llx\"", h);
    return text;
}

bool TileServer::has_tile(ServedMap &m, const TileRequest &t)
{
    if (t.z < m.minzoom || t.z > m.maxzoom) return false;
    long n = 1L << t.z;
    if (t.x < 0 || t.y < 0 || t.x >= n || t.y >= n) return false;
    if (t.layer < 0) return true;
    if (t.layer >= m.map.frame.nresolutions) return false;
    const OrvexResolution &r = m.map.frame.resolutions[t.layer];
    if (t.terrain) return grid_of(r) && grid_of(r)->content == 1;
    return grid_of(r) || vector_of(r);
}

int TileServer::draw(ServedMap &m, const TileRequest &t, std::string *png)
{
    View view = web_tile_view(t.z, t.x, t.y);
    Orvex *own = m.own();
    if (!own) return -1;
    orvextool::Image image(1, 1, orvextool::Rgb{});
    if (t.terrain) {
        GridRows rows = t.layer >= 0 ? one_grid(t.layer, view)
                                     : grids_by_latitude(m.map, resolutions_of_type(m.map, ORVEX_MAP_GRID, 1), view);
        if (draw_terrain({own}, rows, view, &image) != 0) return -1;
    } else {
        PictureChoice choice = web_tile_choice(m.map, view, t.layer);
        Layers layers;
        layers.grid = std::move(choice.grid);
        layers.rings = &m.rings(choice.vectors);
        if (draw_picture({own}, layers, view, &image) != 0) return -1;
    }
    /* Terrain is always the plain, lossless encoding: its bytes are values.
     * Pictures take a reduced palette where no channel moves far. */
    int rc = t.terrain ? encode_png(image, kTilePngLevel, png)
                       : encode_picture_png(image, kTilePngLevel, kTileMaxColourError, kTileColourMerge, png);
    if (rc != 0) {
        orvex_register_error(0, "orvex: cannot encode tile %d/%ld/%ld as PNG\n", t.z, t.x, t.y);
        return -1;
    }
    return 0;
}

int TileServer::tile(ServedMap &m, const TileRequest &t, std::string *png)
{
    if (!has_tile(m, t)) return 1;
    std::string key = tile_key(m, t);
    if (pngs_.get(key, png)) return 0;
    if (draw(m, t, png) != 0) return -1;
    pngs_.put(key, *png);
    return 0;
}

}  // namespace orvexcli
