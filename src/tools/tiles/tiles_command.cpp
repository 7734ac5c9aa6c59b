// orvex tiles MAP OUT.pmtiles|OUT.mbtiles [-z MIN-MAX] [--region W/E/S/N]
// [--layer K] [--kind picture|terrain] [--threads N] [--overwrite]: every
// web tile of a zoom range drawn once, as `serve` draws it, into one archive
// that any static web host can serve.
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "args.h"
#include "atomic_output.h"
#include "commands.h"
#include "common.h"
#include "progress.h"
#include "serve.h"
#include "tiles/archive.h"
#include "tiles/tile_id.h"
#include "tiles/tile_run.h"

namespace orvexcli {

namespace {

const char kHelp[] =
    "Usage: orvex tiles [MAP] OUT.pmtiles|OUT.mbtiles [OPTIONS]\n"
    "\n"
    "Draws every web-map tile (256-pixel PNG, Web Mercator) of a zoom range\n"
    "once, exactly as 'orvex serve' draws it, on all processors, into one tile\n"
    "archive: PMTiles (version 3) or MBTiles (1.3, SQLite), by OUT's ending.\n"
    "Identical tiles (the open sea, mostly) are stored once. Copy the archive\n"
    "to any web host that answers HTTP range requests and point a web map at\n"
    "it; no orvex runs there. Without MAP the default map is drawn. The\n"
    "archive appears whole or not at all.\n"
    "\n"
    "Options:\n"
    "  -z, --zoom MIN-MAX  zooms to write, at most 20 (default 0 to the zoom\n"
    "                      serve offers, at most 6); one number for one zoom\n"
    "  --region W/E/S/N    only the tiles this region touches (degrees; default:\n"
    "                      where the map has tiles)\n"
    "  --layer K           draw resolution K alone, as serve's ?layer=K\n"
    "  --kind KIND         picture (default): the map as serve draws it;\n"
    "                      terrain: elevations as Terrarium PNG for 3D clients\n"
    "                      (metres = R*256 + G + B/256 - 32768; no data is sea\n"
    "                      level, 0 m)\n"
    "  --threads N         drawing threads (default: one per processor)\n"
    "  --cache-mb N        memory for inflated map tiles (default 256)\n"
    "  --overwrite         replace an existing OUT\n"
    "\n"
    "Progress (tiles per second, time left) is shown on standard error when it\n"
    "is a terminal; a summary follows.\n";

/* The deepest zoom written: about 15 cm pixels at the equator. */
const long kDeepestZoom = 20;

struct TilesOptions {
    const char *map = nullptr;
    std::string out;
    long min_zoom = 0, max_zoom = -1, layer = -1, threads = 0, cache_mb = 256;
    bool terrain = false, overwrite = false, region_given = false;
    orvextool::Region region;
};

bool parse_zoom(const char *text, TilesOptions *o)
{
    std::string t = text;
    size_t dash = t.find('-');
    std::string a = t.substr(0, dash), b = dash == std::string::npos ? a : t.substr(dash + 1);
    return orvextool::parse_long(a.c_str(), 0, orvextiles::kMaxTileZoom, &o->min_zoom) &&
           orvextool::parse_long(b.c_str(), 0, orvextiles::kMaxTileZoom, &o->max_zoom) && o->min_zoom <= o->max_zoom;
}

bool option_value(const std::string &a, const char *v, TilesOptions *o, std::string *why)
{
    bool ok = true;
    if (a == "-z" || a == "--zoom") ok = parse_zoom(v, o);
    else if (a == "--region") {
        o->region_given = true;
        if (orvextool::parse_region(v, &o->region, why)) return true;
        *why = std::string("--region '") + v + "': " + *why;
        return false;
    } else if (a == "--layer") ok = orvextool::parse_long(v, 0, 100000, &o->layer);
    else if (a == "--threads") ok = orvextool::parse_long(v, 1, 64, &o->threads);
    else if (a == "--cache-mb") ok = orvextool::parse_long(v, 16, 1L << 20, &o->cache_mb);
    else if (a == "--kind") {
        ok = strcmp(v, "picture") == 0 || strcmp(v, "terrain") == 0;
        o->terrain = strcmp(v, "terrain") == 0;
        if (!ok) *why = std::string("--kind '") + v + "' is neither picture nor terrain";
        return ok;
    } else {
        *why = "unknown option " + a;
        return false;
    }
    if (!ok) {
        if (a == "-z" || a == "--zoom")
            *why = a + " '" + v + "' is not a zoom or MIN-MAX range of zooms 0 to " +
                   std::to_string(orvextiles::kMaxTileZoom);
        else
            *why = a + " '" + v + "' is out of range or not a whole number";
    }
    return ok;
}

bool ends_with(const std::string &s, const char *suffix)
{
    size_t n = strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool parse_options(int argc, char **argv, TilesOptions *o, std::string *why)
{
    std::vector<const char *> names;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--overwrite") o->overwrite = true;
        else if (a.size() > 1 && a[0] == '-') {
            if (i + 1 >= argc) {
                *why = a + " needs a value";
                return false;
            }
            if (!option_value(a, argv[++i], o, why)) return false;
        } else names.push_back(argv[i]);
    }
    if (names.empty() || names.size() > 2) {
        *why = names.empty() ? "the archive to write is missing" : "one map and one archive are expected";
        return false;
    }
    o->out = names.back();
    if (names.size() == 2) o->map = names[0];
    if (!ends_with(o->out, ".pmtiles") && !ends_with(o->out, ".mbtiles")) {
        *why = "'" + o->out + "' ends neither in .pmtiles nor in .mbtiles";
        return false;
    }
    return true;
}

/* The zooms, layer and kind checked against the map. */
int check_against_map(ServedMap &m, TilesOptions *o)
{
    if (o->max_zoom < 0) o->max_zoom = std::max(o->min_zoom, std::min<long>(m.maxzoom, 6));
    /* Zooms past the one serve offers (one step past the finest grid) are
     * drawn the same way, only interpolated further: archives may go as
     * deep as their users want to zoom without blur. */
    if (o->max_zoom > kDeepestZoom)
        return usage_error("tiles", "zoom " + std::to_string(o->max_zoom) + " is past " +
                                        std::to_string(kDeepestZoom) + ", the deepest zoom drawn");
    TileRequest probe;
    probe.layer = static_cast<int>(o->layer);
    probe.terrain = o->terrain;
    if (!TileServer::has_tile(m, probe))
        return usage_error("tiles", o->terrain ? "--layer " + std::to_string(o->layer) + " is not an elevation grid of this map"
                                               : "--layer " + std::to_string(o->layer) + " is not a grid or vector resolution of this map");
    if (o->terrain && o->layer < 0 && resolutions_of_type(m.map, ORVEX_MAP_GRID, 1).empty())
        return usage_error("tiles", "the map has no elevation grid for terrain tiles");
    return 0;
}

/* Where the map (or resolution `layer`) has tiles: the union of the tile
 * lattices of its grid and vector resolutions, all longitudes where one
 * goes round. A regional map's archive then holds its own tiles, not a
 * world of empty ones. */
orvextool::Region map_coverage(Orvex &map, long layer)
{
    orvextool::Region out;
    double west = 1e9, east = -1e9, south = 1e9, north = -1e9;
    for (long k = 0; k < map.frame.nresolutions; k++) {
        const OrvexResolution &r = map.frame.resolutions[k];
        if ((layer >= 0 && k != layer) || !(grid_of(r) || vector_of(r))) continue;
        /* A grid's lattice starts at its first sample, whose cell reaches
         * half a step before it. */
        const OrvexGrid *g = grid_of(r);
        double lon0 = r.lon_start_tiles - (g ? g->dlon / 2 : 0), lat0 = r.lat_start_tiles - (g ? g->dlat / 2 : 0);
        double lon1 = lon0 + r.nlon_tiles * r.dlon_tiles, lat1 = lat0 + r.nlat_tiles * r.dlat_tiles;
        west = std::min({west, lon0, lon1});
        east = std::max({east, lon0, lon1});
        south = std::min({south, lat0, lat1});
        north = std::max({north, lat0, lat1});
    }
    if (!(west < east) || !(south < north)) return out;
    if (east - west < 360) {
        /* West onto -180 .. 180; east stays east of it (past 180 across). */
        double turned = west - 360 * floor((west + 180) / 360);
        out.east = turned + (east - west);
        out.west = turned;
    }
    out.south = std::max(-90.0, south);
    out.north = std::min(90.0, north);
    return out;
}

orvextiles::ArchiveInfo describe(const ServedMap &m, const TilesOptions &o)
{
    orvextiles::ArchiveInfo info;
    info.name = m.name + (o.terrain ? " terrain" : "");
    info.description = o.terrain ? "Elevations of " + m.name + " in metres, Terrarium-encoded"
                                 : "The map " + m.name + " as drawn by orvex";
    if (o.terrain) info.encoding = "terrarium";
    if (o.terrain) info.type = "overlay";
    info.minzoom = static_cast<int>(o.min_zoom);
    info.maxzoom = static_cast<int>(o.max_zoom);
    orvextiles::set_bounds(o.region, &info);
    return info;
}

std::string megabytes(uint64_t bytes)
{
    char text[32];
    snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    return text;
}

int write_archive(ServedMap &m, const TilesOptions &o)
{
    std::vector<uint64_t> ids =
        orvextiles::tiles_of_region(static_cast<int>(o.min_zoom), static_cast<int>(o.max_zoom), o.region);
    AtomicOutput out(o.out);
    if (!out.ready()) return fail("tiles", "cannot protect '" + o.out + "' (name too long)");
    ScratchFolder scratch(folder_of(o.out), "tiles.data", nullptr);
    if (!scratch.ready()) return fail("tiles", "cannot make scratch space beside '" + o.out + "'");
    std::unique_ptr<orvextiles::ArchiveWriter> writer(ends_with(o.out, ".pmtiles") ? orvextiles::new_pmtiles_writer()
                                                                                 : orvextiles::new_mbtiles_writer());
    if (writer->begin(out.temp_path(), scratch.file_path()) != 0) return fail("tiles", "cannot start '" + o.out + "'");
    int threads = static_cast<int>(o.threads);
    if (threads <= 0) threads = std::max(1, std::min(64, static_cast<int>(std::thread::hardware_concurrency())));
    auto draw = [&](int z, uint32_t x, uint32_t y, std::string *bytes) {
        TileRequest t;
        t.z = z;
        t.x = x;
        t.y = y;
        t.layer = static_cast<int>(o.layer);
        t.terrain = o.terrain;
        return TileServer::draw(m, t, bytes);
    };
    auto start = std::chrono::steady_clock::now();
    Progress progress(static_cast<long>(ids.size()), isatty(2) != 0);
    int rc = orvextiles::draw_tiles(ids, threads, draw, writer.get(),
                                    [&](long done, long total) {
                                        progress.set(done, total);
                                        if (done == total / 2) test_checkpoint("half");
                                    });
    if (rc == 0) {
        progress.stage(("writing " + o.out).c_str());
        rc = writer->finish(describe(m, o));
    }
    progress.finish();
    if (rc != 0) return fail("tiles", "cannot write '" + o.out + "'");
    std::string why;
    if (out.commit(o.overwrite, &why) != 0) return fail("tiles", why);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const orvextiles::ArchiveCounts &c = writer->counts();
    struct stat st;
    uint64_t size = stat(o.out.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    fprintf(stderr,
            "orvex tiles: wrote %s: %ld tiles of zoom %ld-%ld, %ld distinct (%.1f tiles a content), %s "
            "(tiles as drawn %s), %.1f s, %.0f tiles/s on %d threads\n",
            o.out.c_str(), c.tiles, o.min_zoom, o.max_zoom, c.contents,
            c.contents ? static_cast<double>(c.tiles) / c.contents : 0.0, megabytes(size).c_str(),
            megabytes(c.tile_bytes).c_str(), seconds, seconds > 0 ? c.tiles / seconds : 0.0, threads);
    return 0;
}

}  // namespace

int tiles_command(int argc, char **argv)
{
    if (wants_help(argc, argv)) {
        fputs(kHelp, stdout);
        return 0;
    }
    TilesOptions o;
    std::string why;
    if (!parse_options(argc, argv, &o, &why)) return usage_error("tiles", why);
    struct stat st;
    if (!o.overwrite && stat(o.out.c_str(), &st) == 0)
        return usage_error("tiles", "'" + o.out + "' exists (--overwrite replaces it)");
    ServeSettings settings;
    settings.cache_mb = o.cache_mb;
    settings.command = "tiles";
    TileServer server(settings);
    if (server.add(o.map) != 0) return 1;
    ServedMap &m = *server.maps().front();
    if (int rc = check_against_map(m, &o)) return rc;
    if (!o.region_given) o.region = map_coverage(m.map, o.layer);
    return write_archive(m, o);
}

}  // namespace orvexcli
