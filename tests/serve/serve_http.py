"""`orvex serve` over HTTP: tiles against the map's own samples, the JSON
documents against `orvex info` and `orvex query`, conditional requests,
and malformed and hostile requests answered with 4xx while it serves on.

Usage: serve_http.py ORVEX WORKDIR (WORKDIR holds the command-line tests'
map.orx; served.orx is built there)."""
import concurrent.futures
import http.client
import json
import re
import socket
import struct
import subprocess
import sys
import time
import unittest

from serve_support import LAND, Server, is_land, is_sea, make_map, read_png, world_pixel

ORVEX, WORKDIR = sys.argv[1], sys.argv[2]


class ServeHttp(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        make_map(ORVEX, WORKDIR)
        # 7200 tiles of 3 x 3 samples: one tile of zoom 0 reads all of them.
        subprocess.run([ORVEX, "build", "many.orx", "--overwrite", "--grid", "world.dem", "--tiles", "60x120"],
                       cwd=WORKDIR, check=True, capture_output=True)
        cls.server = Server(ORVEX, ["served.orx", "map.orx", "bad-payload.orx", "many.orx", "--threads", "8",
                                    "--cache-mb", "16"], WORKDIR)

    @classmethod
    def tearDownClass(cls):
        status, err = cls.server.close()
        assert status == 0 and "stopped" in err, (status, err)

    def tile(self, z, x, y, name="served", query=""):
        status, headers, body = self.server.get("/tiles/%s/%d/%d/%d.png%s" % (name, z, x, y, query))
        self.assertEqual(status, 200, body)
        self.assertEqual(headers["Content-Type"], "image/png")
        return body

    def pixel(self, lat, lon, z):
        x, y = world_pixel(lat, lon, z)
        w, h, rows = read_png(self.tile(z, int(x // 256), int(y // 256)))
        self.assertEqual((w, h), (256, 256))
        return rows[int(y) % 256][int(x) % 256]

    def test_tiles_show_land_and_sea_where_the_map_has_them(self):
        for z in (0, 1, 2):
            self.assertTrue(is_land(self.pixel(20, 20, z)), z)
            self.assertTrue(is_land(self.pixel(-40, 175, z)), z)
            self.assertTrue(is_land(self.pixel(-40, -175, z)), z)
            self.assertTrue(is_sea(self.pixel(0, -60, z)), z)
            self.assertTrue(is_sea(self.pixel(60, 100, z)), z)

    def test_tiles_meet_without_a_seam_across_180_degrees(self):
        _, _, east = read_png(self.tile(2, 3, 2))
        _, _, west = read_png(self.tile(2, 0, 2))
        top = int(world_pixel(-33, 0, 2)[1]) - 512
        bottom = int(world_pixel(-47, 0, 2)[1]) - 512
        for j in range(top, bottom):
            self.assertTrue(is_land(east[j][255]) and is_land(west[j][0]), j)
            self.assertEqual(east[j][255], west[j][0], j)
        # And an inner edge: tile rows 1 and 2 of zoom 2 meet at the equator,
        # where the land box begins. The relief is interpolated, so the
        # coast is a gentle slope across a few rows; the step across the
        # tiles' edge is no larger than the steps beside it.
        _, _, north = read_png(self.tile(2, 2, 1))
        _, _, south = read_png(self.tile(2, 2, 2))
        i = int(world_pixel(0, 20, 2)[0]) - 512
        self.assertTrue(is_land(north[250][i]))

        def step(a, b):
            return max(abs(p - q) for p, q in zip(a, b))
        beside = max(step(north[253][i], north[254][i]), step(north[254][i], north[255][i]),
                     step(south[0][i], south[1][i]), step(south[1][i], south[2][i]))
        self.assertLessEqual(step(north[255][i], south[0][i]), beside + 2)

    def test_a_tile_is_the_same_twice_and_answers_its_etag(self):
        status, headers, first = self.server.get("/tiles/served/1/1/0.png")
        self.assertEqual(status, 200)
        self.assertEqual(self.tile(1, 1, 0), first)
        etag = headers["ETag"]
        self.assertTrue(re.fullmatch(r'"[0-9a-f]{16}"', etag), etag)
        self.assertIn("max-age", headers["Cache-Control"])
        status, headers, body = self.server.get("/tiles/served/1/1/0.png", {"If-None-Match": etag})
        self.assertEqual((status, body), (304, b""))
        status, _, _ = self.server.get("/tiles/served/1/1/0.png", {"If-None-Match": '"0000000000000000"'})
        self.assertEqual(status, 200)
        self.assertNotEqual(self.server.get("/tiles/served/1/0/0.png")[1]["ETag"], etag)

    def test_layers_choose_resolutions(self):
        # map.orx: 0 relief, 1 colour, 2 filled shoreline.
        colour = read_png(self.tile(0, 0, 0, "map", "?layer=1"))[2]
        relief = read_png(self.tile(0, 0, 0, "map", "?layer=0"))[2]
        shore = read_png(self.tile(0, 0, 0, "map", "?layer=2"))[2]
        self.assertNotEqual(colour, relief)
        self.assertNotEqual(shore, relief)
        self.assertEqual(self.server.get("/tiles/map/0/0/0.png?layer=3")[0], 404)
        self.assertEqual(self.server.get("/tiles/map/0/0/0.png?layer=x")[0], 400)

    def test_maps_and_tilejson_describe_what_is_served(self):
        status, headers, body = self.server.get("/maps")
        self.assertEqual(status, 200)
        self.assertEqual(headers["Content-Type"], "application/json")
        maps = {m["name"]: m for m in json.loads(body)["maps"]}
        self.assertEqual(sorted(maps), ["bad-payload", "many", "map", "served"])
        info = subprocess.run([ORVEX, "info", "map.orx"], cwd=WORKDIR, capture_output=True, text=True).stdout
        names = re.findall(r'Resolution \d+: name "([^"]*)", label "([^"]*)", (grid|vector)', info)
        self.assertEqual([(r["name"], r["label"], r["type"]) for r in maps["map"]["resolutions"]], names)
        self.assertEqual(maps["served"]["resolutions"][0]["columns"], 360)
        self.assertEqual((maps["served"]["minzoom"], maps["served"]["maxzoom"]), (0, 2))
        status, _, body = self.server.get("/tiles/served.json")
        doc = json.loads(body)
        self.assertEqual(doc["tiles"], [self.server.url + "/tiles/served/{z}/{x}/{y}.png"])
        self.assertEqual((doc["tilejson"], doc["minzoom"], doc["maxzoom"]), ("3.0.0", 0, 2))
        self.assertEqual(self.server.get("/tiles/served/3/0/0.png")[0], 404)

    def test_query_says_what_orvex_query_says(self):
        cases = [("served", "served.orx", 20, 20), ("served", "served.orx", -40, -175.2), ("served", "served.orx", 0, -60),
                 ("map", "map.orx", 90, -180), ("map", "map.orx", 60, -150), ("map", "map.orx", -45, 135),
                 ("map", "map.orx", 45, 225)]
        for name, path, lat, lon in cases:
            status, _, body = self.server.get("/query?lat=%s&lon=%s&map=%s" % (lat, lon, name))
            self.assertEqual(status, 200, body)
            answer = json.loads(body)["resolutions"]
            text = subprocess.run([ORVEX, "query", str(lat), str(lon), path], cwd=WORKDIR, capture_output=True,
                                  text=True, check=True).stdout.splitlines()
            self.assertEqual(len(answer), len(text))
            for r, line in zip(answer, text):
                self.assertEqual(describe(r), line.split(": ", 1)[1], (name, lat, lon))

    def test_bad_and_hostile_requests_get_4xx_and_the_server_serves_on(self):
        cases = {
            "/tiles/served/9/0/0.png": 404, "/tiles/served/1/2/0.png": 404, "/tiles/served/1/0/2.png": 404,
            "/tiles/nomap/0/0/0.png": 404, "/tiles/served/x/0/0.png": 400, "/tiles/served/-1/0/0.png": 400,
            "/tiles/served/0/0/99999999999999999999.png": 400, "/tiles/served/0/0/0.jpg": 404,
            "/tiles/../../../etc/passwd": 404, "/tiles/%2e%2e/0/0/0.png": 404, "/tiles/..%2fmap/0/0/0.png": 404,
            "/leaflet/../serve.h": 404, "/leaflet/%2e%2e/%2e%2e/etc/passwd": 404, "/nothing": 404,
            "/query": 400, "/query?lat=91&lon=0": 400, "/query?lat=1&lon=abc": 400, "/query?lat=1&lon=nan": 400,
            "/query?lat=1&lon=2&map=nomap": 404, "/tiles/nomap.json": 404, "/" + "a" * 9000: 414,
        }
        for path, expected in cases.items():
            self.assertEqual(self.server.get(path)[0], expected, path)
        for raw in (b"GARBAGE\r\n\r\n", b"GET /maps HTTP/9.9\r\n\r\n", b"GET " + b"/x" * 5000 + b" HTTP/1.1\r\n\r\n",
                    b"GET /maps HTTP/1.1\r\nX: " + b"y" * 20000 + b"\r\n\r\n"):
            self.assertRegex(raw_request(self.server.port, raw), rb"^HTTP/1\.[01] 4\d\d", raw[:20])
        self.assertEqual(self.server.get("/maps")[0], 200)

    def test_an_unreadable_tile_is_a_500_and_the_server_serves_on(self):
        status, _, body = self.server.get("/tiles/bad-payload/0/0/0.png")
        self.assertEqual(status, 500, body)
        self.assertEqual(self.server.get("/query?lat=60&lon=10&map=bad-payload")[0], 500)
        self.assertEqual(self.server.get("/tiles/bad-payload/0/0/0.png?layer=2")[0], 200)
        self.assertEqual(self.server.get("/maps")[0], 200)

    def test_many_small_tiles_on_many_threads_never_fill_the_cache(self):
        paths = ["/tiles/many/%d/%d/%d.png" % (z, x, y) for z in (0, 1, 2) for x in range(2 ** z) for y in range(2 ** z)]
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            answers = list(pool.map(lambda p: self.server.get(p), paths * 2))
        self.assertEqual([a[0] for a in answers], [200] * len(answers))
        # The same samples as the map of 2 x 4 tiles.
        self.assertEqual(answers[0][2], self.tile(0, 0, 0))

    def test_idle_clients_do_not_stall_the_others(self):
        idle = [socket.create_connection(("127.0.0.1", self.server.port)) for _ in range(3)]
        try:
            idle[0].sendall(b"GET /maps HTTP/1.1\r\nHost: x\r\n")  # never finished
            start = time.monotonic()
            self.tile(2, 1, 1)
            self.assertEqual(self.server.get("/maps")[0], 200)
            self.assertLess(time.monotonic() - start, 4.0)
        finally:
            for s in idle:
                s.close()

    def test_clients_that_vanish_mid_answer_do_not_harm_the_server(self):
        for _ in range(20):
            s = socket.create_connection(("127.0.0.1", self.server.port))
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))  # reset, not close
            s.sendall(b"GET /leaflet/leaflet.js HTTP/1.1\r\nHost: x\r\n\r\n")
            s.close()
        self.assertEqual(self.server.get("/maps")[0], 200)
        self.assertIsNone(self.server.proc.poll())

    def test_the_page_and_leaflet_are_served_here(self):
        status, _, page = self.server.get("/")
        self.assertEqual(status, 200)
        self.assertIn(b'src="/leaflet/leaflet.js"', page)
        self.assertNotIn(b"http://", page.replace(b'"http://www.w3.org', b""))
        for path in ("/leaflet/leaflet.js", "/leaflet/leaflet.css", "/leaflet/images/layers.png"):
            status, _, body = self.server.get(path)
            self.assertEqual(status, 200, path)
            self.assertGreater(len(body), 100, path)

    def test_cors_preflight_is_answered_on_every_route(self):
        for path in ("/tiles/served/1/0/0.png", "/tiles/served.json", "/maps", "/query?lat=1&lon=2", "/"):
            conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=10)
            conn.request("OPTIONS", path, headers={"Origin": "http://elsewhere.example",
                                                   "Access-Control-Request-Method": "GET",
                                                   "Access-Control-Request-Headers": "range, if-none-match"})
            r = conn.getresponse()
            r.read()
            conn.close()
            self.assertEqual(r.status, 204, path)
            self.assertEqual(r.getheader("Access-Control-Allow-Origin"), "*", path)
            self.assertEqual(r.getheader("Access-Control-Allow-Methods"), "GET, HEAD, OPTIONS", path)
            self.assertEqual(r.getheader("Access-Control-Allow-Headers"), "range, if-none-match", path)
            self.assertGreater(int(r.getheader("Access-Control-Max-Age")), 0, path)
        # Header lists that are not plain names are not echoed.
        reply = raw_request(self.server.port, b"OPTIONS /maps HTTP/1.1\r\nHost: x\r\n"
                            b"Access-Control-Request-Headers: a\x01b<script>\r\n\r\n", 4096)
        self.assertRegex(reply, rb"^HTTP/1\.1 204")
        self.assertIn(b"Access-Control-Allow-Headers: Range, If-None-Match", reply)
        self.assertNotIn(b"script", reply)
        # The answers that follow carry the origin and let scripts read the ETag.
        _, headers, _ = self.server.get("/tiles/served/1/0/0.png")
        self.assertEqual(headers["Access-Control-Allow-Origin"], "*")
        self.assertIn("ETag", headers["Access-Control-Expose-Headers"])


def describe(r):
    """A JSON answer in the words of `orvex query`."""
    if r.get("segments") is not None:
        return "tile %d (row %d, column %d), %d segments" % (r["tile"], r["tile_row"], r["tile_column"], r["segments"])
    if "tile" not in r:
        return "outside"
    head = "tile %d (row %d, column %d)" % (r["tile"], r["tile_row"], r["tile_column"])
    if r.get("outside"):
        return head + ", outside the tile's samples"
    head += ", sample row %d column %d" % (r["row"], r["column"])
    if "colour" in r:
        return head + ", colour %d %d %d" % tuple(r["colour"])
    return head + (", elevation no data" if r["elevation"] is None else ", elevation %d" % r["elevation"])


def raw_request(port, data, size=64):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(data)
        return s.recv(size)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
