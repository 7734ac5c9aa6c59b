// The HTTP side of `orvex serve`, on cpp-httplib: routes, conditional
// requests and cache headers, answers to malformed requests, and a clean
// stop on SIGINT or SIGTERM. Requests name maps only by their served
// names, so no request reaches a file of its own choosing.
#include <ctype.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include <httplib.h>

#include "args.h"
#include "serve.h"

namespace orvexcli {

namespace {

std::mutex log_mutex;

void plain(httplib::Response &res, int status, const std::string &text)
{
    res.status = status;
    res.set_content(text + "\n", "text/plain; charset=utf-8");
}

void json(httplib::Response &res, const std::string &body)
{
    res.set_header("Access-Control-Allow-Origin", "*");
    res.set_header("Cache-Control", "no-cache");
    res.set_content(body, "application/json");
}

/* Prints the register after a failure on this thread, and empties it. */
void log_failure(const std::string &what)
{
    std::lock_guard<std::mutex> lock(log_mutex);
    fprintf(stderr, "orvex serve: %s\n", what.c_str());
    elog_print(stderr);
    elog_clear_register(0);
}

/* A whole number of at most nine digits, no sign, no spaces. */
bool small_number(const std::string &text, long *out)
{
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    *out = std::stol(text);
    return true;
}

/* The address clients used, for the TileJSON's tile URL; the Host header
 * only when it looks like a host and port. */
std::string base_url(const httplib::Request &req, const std::string &fallback)
{
    std::string host = req.get_header_value("Host");
    bool ok = !host.empty() && host.size() < 256;
    for (char c : host)
        if (!isalnum(static_cast<unsigned char>(c)) && !strchr(".-:[]", c)) ok = false;
    return "http://" + (ok ? host : fallback);
}

bool parse_tile(const httplib::Request &req, TileRequest *t)
{
    long z, x, y;
    std::string row = req.matches[4];
    t->terrain = terrain_name(&row); /* Y.terrain.png: elevations */
    if (!small_number(req.matches[2], &z) || !small_number(req.matches[3], &x) || !small_number(row, &y))
        return false;
    if (z > 30) z = 31; /* out of every map's range; keeps the shift defined */
    t->z = static_cast<int>(z);
    t->x = x;
    t->y = y;
    std::string layer = req.has_param("layer") ? req.get_param_value("layer") : "auto";
    long k = -1;
    if (layer != "auto" && !small_number(layer, &k)) return false;
    t->layer = static_cast<int>(k > 100000 ? 100000 : k);
    return true;
}

void serve_tile(TileServer &tiles, const httplib::Request &req, httplib::Response &res)
{
    TileRequest t;
    if (!parse_tile(req, &t)) return plain(res, 400, "400 malformed tile request");
    ServedMap *m = tiles.find(req.matches[1]);
    if (!m) return plain(res, 404, "404 no such map");
    std::string etag = TileServer::etag(*m, t);
    res.set_header("Access-Control-Allow-Origin", "*");
    res.set_header("Access-Control-Expose-Headers", "ETag");
    if (!TileServer::has_tile(*m, t)) return plain(res, 404, "404 no such tile");
    if (req.get_header_value("If-None-Match") == etag) {
        res.status = 304;
        res.set_header("ETag", etag);
        return;
    }
    std::string png;
    if (tiles.tile(*m, t, &png) != 0) {
        log_failure("cannot draw tile " + req.path);
        return plain(res, 500, "500 cannot read the map's tiles");
    }
    res.set_header("ETag", etag);
    res.set_header("Cache-Control", "public, max-age=3600");
    res.set_content(png, "image/png");
}

void serve_query(TileServer &tiles, const httplib::Request &req, httplib::Response &res)
{
    double lat = 0, lon = 0;
    if (!req.has_param("lat") || !req.has_param("lon") ||
        !orvextool::parse_double(req.get_param_value("lat").c_str(), &lat) || lat < -90 || lat > 90 ||
        !orvextool::parse_double(req.get_param_value("lon").c_str(), &lon) || lon < -360 || lon > 360)
        return plain(res, 400, "400 lat from -90 to 90 and lon from -360 to 360 are needed");
    ServedMap *m = req.has_param("map") ? tiles.find(req.get_param_value("map")) : tiles.maps().front().get();
    if (!m) return plain(res, 404, "404 no such map");
    std::string body;
    if (tiles.query_json(*m, lat, lon, &body) != 0) {
        log_failure("cannot answer " + req.path);
        return plain(res, 500, "500 cannot read the map's tiles");
    }
    json(res, body);
}

/* The request headers a preflight may ask for, echoed when they are a
 * plain list of header names, else the ones web-map clients send. */
std::string allowed_headers(const httplib::Request &req)
{
    std::string asked = req.get_header_value("Access-Control-Request-Headers");
    bool plain_list = !asked.empty() && asked.size() < 1024;
    for (char c : asked)
        if (!isalnum(static_cast<unsigned char>(c)) && !strchr("-_, ", c)) plain_list = false;
    return plain_list ? asked : "Range, If-None-Match, If-Modified-Since, Accept, Content-Type";
}

/* A CORS preflight: any origin may GET what is served here (nothing needs
 * credentials), and browsers keep the answer for a day. */
void preflight(const httplib::Request &req, httplib::Response &res)
{
    res.status = 204;
    res.set_header("Access-Control-Allow-Origin", "*");
    res.set_header("Access-Control-Allow-Methods", "GET, HEAD, OPTIONS");
    res.set_header("Access-Control-Allow-Headers", allowed_headers(req));
    res.set_header("Access-Control-Max-Age", "86400");
}

void add_routes(httplib::Server &svr, TileServer &tiles, const std::string &fallback_host)
{
    /* Every path answers a preflight, as a page may ask before a GET that
     * then gets its own status. */
    svr.Options(".*", preflight);
    svr.Get("/", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(serve_page(), "text/html; charset=utf-8");
    });
    svr.Get(R"(/leaflet/([a-z0-9./-]+))", [](const httplib::Request &req, httplib::Response &res) {
        std::string bytes, type;
        if (!leaflet_file(req.matches[1], &bytes, &type)) return plain(res, 404, "404 not found");
        res.set_header("Cache-Control", "public, max-age=86400");
        res.set_content(bytes, type.c_str());
    });
    svr.Get("/maps", [&tiles](const httplib::Request &, httplib::Response &res) { json(res, tiles.maps_json()); });
    svr.Get(R"(/tiles/([^/]+)\.json)", [&tiles, fallback_host](const httplib::Request &req, httplib::Response &res) {
        std::string name = req.matches[1];
        ServedMap *m = tiles.find(name);
        bool terrain = !m && terrain_name(&name); /* NAME.terrain.json */
        if (terrain) m = tiles.find(name);
        if (!m) return plain(res, 404, "404 no such map");
        json(res, tiles.tilejson(*m, base_url(req, fallback_host), terrain));
    });
    svr.Get(R"(/tiles/([^/]+)/([^/]+)/([^/]+)/([^/]+)\.png)",
            [&tiles](const httplib::Request &req, httplib::Response &res) { serve_tile(tiles, req, res); });
    svr.Get("/query", [&tiles](const httplib::Request &req, httplib::Response &res) { serve_query(tiles, req, res); });
    svr.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.body.empty()) plain(res, res.status, std::to_string(res.status) + (res.status < 500 ? " refused" : " failed"));
    });
    svr.set_exception_handler([](const httplib::Request &req, httplib::Response &res, std::exception_ptr) {
        log_failure("failure answering " + req.path);
        plain(res, 500, "500 internal error");
    });
}

/* Waits for SIGINT or SIGTERM (blocked on every thread) and stops the
 * server; a stop for another reason sends itself SIGTERM to end it. */
std::atomic<bool> signalled{false};

void stop_on_signal(httplib::Server *svr, sigset_t set)
{
    int sig = 0;
    sigwait(&set, &sig);
    signalled = true;
    svr->stop();
}

}  // namespace

int run_http(TileServer &tiles, const std::string &bind, int port, int threads)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    /* A client that vanishes while we write is that request's failure only. */
    signal(SIGPIPE, SIG_IGN);
    httplib::Server svr;
    svr.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
    /* A slow or idle client holds a thread only this long. */
    svr.set_read_timeout(5);
    svr.set_write_timeout(5);
    svr.set_keep_alive_timeout(2);
    svr.set_payload_max_length(1 << 16);
    int bound = port == 0 ? svr.bind_to_any_port(bind) : (svr.bind_to_port(bind, port) ? port : -1);
    if (bound < 0) {
        fprintf(stderr, "orvex serve: cannot listen on %s port %d\n", bind.c_str(), port);
        return 1;
    }
    std::string host = (bind.find(':') != std::string::npos ? "[" + bind + "]" : bind) + ":" + std::to_string(bound);
    add_routes(svr, tiles, host);
    std::thread stopper(stop_on_signal, &svr, set);
    printf("orvex serve: %zu map%s at http://%s/ (Ctrl-C stops)\n", tiles.maps().size(),
           tiles.maps().size() == 1 ? "" : "s", host.c_str());
    fflush(stdout);
    bool ok = svr.listen_after_bind();
    if (!signalled) kill(getpid(), SIGTERM);
    stopper.join();
    fprintf(stderr, "orvex serve: stopped\n");
    return ok ? 0 : 1;
}

}  // namespace orvexcli
