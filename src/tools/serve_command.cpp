// orvex serve [MAP...] [--port N] [--bind ADDR] [--threads N] [--cache-mb N]:
// the maps as web tiles, TileJSON and JSON look-ups, and a page to browse
// them, until Ctrl-C.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "args.h"
#include "commands.h"
#include "common.h"
#include "serve.h"

namespace orvexcli {

int run_http(TileServer &tiles, const std::string &bind, int port, int threads);

namespace {

const char kHelp[] =
    "Usage: orvex serve [MAP...] [OPTIONS]\n"
    "\n"
    "Serves maps over HTTP until Ctrl-C: a page to browse them at /, standard\n"
    "web-map tiles (256-pixel PNG, Web Mercator) at /tiles/NAME/Z/X/Y.png,\n"
    "TileJSON at /tiles/NAME.json, the maps and their resolutions at /maps and\n"
    "every resolution's sample at a position at /query?lat=LAT&lon=LON[&map=NAME].\n"
    "NAME is the map file's name without .orx (\"default\" for the default map,\n"
    "which is served when no MAP is given). Tiles draw the resolutions that\n"
    "'orvex render' would choose at their pixel size; ?layer=K draws resolution K\n"
    "(a grid with the vectors chosen for it, or a vector resolution alone).\n"
    "The address is printed on standard output once the server listens.\n"
    "\n"
    "Options:\n"
    "  --port N       port to listen on (default 8080; 0: any free port)\n"
    "  --bind ADDR    address to listen on (default 127.0.0.1)\n"
    "  --threads N    threads answering requests (default 16, at most 64)\n"
    "  --cache-mb N   memory for inflated map tiles and drawn tiles (default 256)\n";

struct ServeOptions {
    std::vector<const char *> maps;
    long port = 8080, threads = 16, cache_mb = 256;
    std::string bind = "127.0.0.1";
};

bool option_value(const std::string &a, const char *v, ServeOptions *o, std::string *why)
{
    bool ok = true;
    if (a == "--port") ok = orvextool::parse_long(v, 0, 65535, &o->port);
    else if (a == "--threads") ok = orvextool::parse_long(v, 1, 64, &o->threads);
    else if (a == "--cache-mb") ok = orvextool::parse_long(v, 16, 1L << 20, &o->cache_mb);
    else if (a == "--bind") ok = *v != '\0';
    else {
        *why = "unknown option " + a;
        return false;
    }
    if (a == "--bind") o->bind = v;
    if (!ok) *why = a + " '" + v + "' is out of range or not a whole number";
    return ok;
}

bool parse_options(int argc, char **argv, ServeOptions *o, std::string *why)
{
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a.size() > 1 && a[0] == '-') {
            if (i + 1 >= argc) {
                *why = a == "--port" || a == "--bind" || a == "--threads" || a == "--cache-mb" ? a + " needs a value"
                                                                                                  : "unknown option " + a;
                return false;
            }
            if (!option_value(a, argv[++i], o, why)) return false;
        } else {
            o->maps.push_back(argv[i]);
        }
    }
    return true;
}

}  // namespace

int serve_command(int argc, char **argv)
{
    if (wants_help(argc, argv)) {
        fputs(kHelp, stdout);
        return 0;
    }
    ServeOptions o;
    std::string why;
    if (!parse_options(argc, argv, &o, &why)) return usage_error("serve", why);
    ServeSettings settings;
    settings.threads = static_cast<int>(o.threads);
    settings.cache_mb = o.cache_mb;
    TileServer tiles(settings);
    if (o.maps.empty() && tiles.add(nullptr) != 0) return 1;
    for (const char *name : o.maps)
        if (tiles.add(name) != 0) return 1;
    return run_http(tiles, o.bind, static_cast<int>(o.port), settings.threads);
}

}  // namespace orvexcli
