"""`orvex tiles` read by readers we did not write: GDAL's MBTiles driver
(gdalinfo, gdal_translate of a zoom against `serve`'s tiles pixel for
pixel), SQLite, and the npm pmtiles package (tiles by z/x/y byte-equal to
`serve`'s, header and metadata); terrain tiles decoded back to the map's
samples; interrupted and refused runs leave nothing behind.

Usage: check_archives.py ORVEX WORKDIR"""
import glob
import json
import os
import random
import signal
import sqlite3
import struct
import subprocess
import sys
import unittest

import numpy

from tiles_support import (Server, column_map, decode_png, gdal, have_node_reader, make_map, read_pmtiles,
                           run_tiles)

ORVEX, WORKDIR = sys.argv[1], sys.argv[2]
ZOOMS = range(0, 3)  # the test map's zooms: 0 to 2


def all_tiles(zooms):
    return [(z, x, y) for z in zooms for x in range(2 ** z) for y in range(2 ** z)]


class Archives(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(WORKDIR, exist_ok=True)
        for f in glob.glob(os.path.join(WORKDIR, "*.*tiles")):
            os.remove(f)
        make_map(ORVEX, WORKDIR)
        for out in ("world.pmtiles", "world.mbtiles"):
            r = run_tiles(ORVEX, ["served.orx", out, "-z", "0-2", "--threads", "3"], WORKDIR)
            assert r.returncode == 0, r.stderr
            assert "21 tiles of zoom 0-2" in r.stderr, r.stderr
        cls.server = Server(ORVEX, ["served.orx"], WORKDIR)
        cls.served = {}
        for t in all_tiles(ZOOMS):
            status, _, body = cls.server.get("/tiles/served/%d/%d/%d.png" % t)
            assert status == 200, (t, status)
            cls.served[t] = body

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def mosaic(self, z):
        """Serve's tiles of zoom z side by side: (3, rows, columns)."""
        n = 2 ** z
        rows = [numpy.concatenate([decode_png(self.served[(z, x, y)])[:3] for x in range(n)], axis=2)
                for y in range(n)]
        return numpy.concatenate(rows, axis=1)

    def test_mbtiles_tables_hold_every_tile_once(self):
        db = sqlite3.connect(os.path.join(WORKDIR, "world.mbtiles"))
        meta = dict(db.execute("SELECT name, value FROM metadata"))
        self.assertEqual((meta["format"], meta["minzoom"], meta["maxzoom"]), ("png", "0", "2"))
        self.assertEqual(meta["bounds"], "-180,-85.05112878,180,85.05112878")
        for (z, x, y), png in self.served.items():
            row = db.execute("SELECT tile_data FROM tiles WHERE zoom_level=? AND tile_column=? AND tile_row=?",
                             (z, x, 2 ** z - 1 - y)).fetchone()
            self.assertEqual(bytes(row[0]), png, (z, x, y))
        distinct = len(set(self.served.values()))
        self.assertEqual(db.execute("SELECT count(*) FROM images").fetchone()[0], distinct)
        self.assertEqual(db.execute("SELECT count(*) FROM map").fetchone()[0], 21)

    def test_gdal_reads_the_mbtiles_as_serve_draws(self):
        g = gdal()
        info = json.loads(subprocess.run(["gdalinfo", "-json", "world.mbtiles"], cwd=WORKDIR, check=True,
                                         capture_output=True, text=True).stdout)
        self.assertEqual(info["driverShortName"], "MBTiles")
        self.assertEqual(info["size"], [1024, 1024])  # zoom 2, the finest
        ds = g.Open(os.path.join(WORKDIR, "world.mbtiles"))
        pixels = ds.ReadAsArray()
        numpy.testing.assert_array_equal(pixels[:3], self.mosaic(2))
        if ds.RasterCount == 4:
            self.assertTrue((pixels[3] == 255).all())
        # A coarser zoom through gdal_translate.
        out = os.path.join(WORKDIR, "zoom1.tif")
        subprocess.run(["gdal_translate", "-q", "-oo", "ZOOM_LEVEL=1", "world.mbtiles", "zoom1.tif"], cwd=WORKDIR,
                       check=True)
        z1 = g.Open(out).ReadAsArray()
        self.assertEqual(z1.shape[1:], (512, 512))
        numpy.testing.assert_array_equal(z1[:3], self.mosaic(1))

    @unittest.skipUnless(have_node_reader(), "node or tests/web/node_modules (npm ci) missing")
    def test_npm_pmtiles_reads_serves_tiles(self):
        wanted = all_tiles(ZOOMS) + [(3, 0, 0)]
        doc = read_pmtiles(os.path.join(WORKDIR, "world.pmtiles"), wanted)
        h = doc["header"]
        self.assertEqual((h["specVersion"], h["minZoom"], h["maxZoom"], h["tileType"]), (3, 0, 2, 2))
        self.assertEqual((h["numAddressedTiles"], h["clustered"], h["tileCompression"]), (21, True, 1))
        self.assertEqual(h["numTileContents"], len(set(self.served.values())))
        self.assertAlmostEqual(h["maxLat"], 85.0511288, places=6)
        meta = doc["metadata"]
        self.assertEqual((meta["format"], meta["minzoom"], meta["maxzoom"], meta["name"]), ("png", 0, 2, "served"))
        for t in all_tiles(ZOOMS):
            self.assertEqual(doc["tiles"][t], self.served[t], t)
        self.assertIsNone(doc["tiles"][(3, 0, 0)])
        # The reader's tile numbers and ours agree on the whole order.
        ids = sorted(all_tiles(ZOOMS), key=lambda t: doc["ids"]["%d/%d/%d" % t])
        self.assertEqual([doc["ids"]["%d/%d/%d" % t] for t in ids], list(range(21)))

    @unittest.skipUnless(have_node_reader(), "node or tests/web/node_modules (npm ci) missing")
    def test_a_region_holds_only_its_tiles(self):
        r = run_tiles(ORVEX, ["served.orx", "region.pmtiles", "-z", "1-2", "--region", "0/40/0/40", "--overwrite"],
                      WORKDIR)
        self.assertEqual(r.returncode, 0, r.stderr)
        doc = read_pmtiles(os.path.join(WORKDIR, "region.pmtiles"), [(1, 1, 0), (1, 0, 0), (2, 2, 1), (2, 3, 1)])
        self.assertEqual(doc["header"]["numAddressedTiles"], 2)
        self.assertEqual(doc["tiles"][(1, 1, 0)], self.served[(1, 1, 0)])
        self.assertEqual(doc["tiles"][(2, 2, 1)], self.served[(2, 2, 1)])
        self.assertIsNone(doc["tiles"][(1, 0, 0)])
        self.assertIsNone(doc["tiles"][(2, 3, 1)])
        self.assertEqual(doc["metadata"]["bounds"], [0, 0, 40, 40])

    @unittest.skipUnless(have_node_reader(), "node or tests/web/node_modules (npm ci) missing")
    def test_a_regional_map_gives_its_own_tiles(self):
        dem = os.path.join(WORKDIR, "box.dem")
        with open(dem, "wb") as f:
            f.write(struct.pack("<1600h", *([500] * 1600)))
        with open(dem + ".pf", "w") as f:
            f.write("lat 39.5\ndlat -1\nlon 0.5\ndlon 1\nnlat 40\nnlon 40\n")
        subprocess.run([ORVEX, "build", "box.orx", "--overwrite", "--grid", "box.dem"], cwd=WORKDIR, check=True,
                       capture_output=True)
        r = run_tiles(ORVEX, ["box.orx", "box.pmtiles", "-z", "0-2", "--overwrite"], WORKDIR)
        self.assertEqual(r.returncode, 0, r.stderr)
        doc = read_pmtiles(os.path.join(WORKDIR, "box.pmtiles"), [(0, 0, 0), (1, 1, 0), (2, 2, 1), (2, 1, 1)])
        self.assertEqual(doc["header"]["numAddressedTiles"], 3)
        self.assertIsNone(doc["tiles"][(2, 1, 1)])
        west, south, east, north = doc["metadata"]["bounds"]
        self.assertAlmostEqual(west, 0, delta=0.5)
        self.assertAlmostEqual(east, 40, delta=0.5)
        self.assertAlmostEqual(south, 0, delta=0.5)
        self.assertAlmostEqual(north, 40, delta=0.5)

    def test_an_interrupted_run_leaves_nothing(self):
        for sig in (signal.SIGINT, signal.SIGTERM):
            env = dict(os.environ, ORVEX_TEST_RAISE="%d@half" % sig)
            r = run_tiles(ORVEX, ["served.orx", "cut.mbtiles", "-z", "0-2", "--threads", "2"], WORKDIR, env)
            self.assertEqual(r.returncode, -sig, r.stderr)
            left = [f for f in os.listdir(WORKDIR) if "cut.mbtiles" in f or f.startswith(".orvex-scratch")]
            self.assertEqual(left, [])

    def test_refusals_say_why_and_write_nothing(self):
        cases = [
            (["served.orx", "world.pmtiles"], "exists"),
            (["served.orx", "x.zip"], "neither in .pmtiles nor in .mbtiles"),
            (["served.orx", "x.pmtiles", "-z", "0-21"], "past 20, the deepest zoom drawn"),
            (["served.orx", "x.pmtiles", "-z", "3-1"], "not a zoom or MIN-MAX range"),
            (["served.orx", "x.pmtiles", "--layer", "7"], "not a grid or vector resolution"),
            (["served.orx", "x.pmtiles", "--kind", "height"], "neither picture nor terrain"),
            (["served.orx", "x.pmtiles", "--region", "0/10/20/5"], "--region"),
            (["missing.orx", "x.pmtiles"], "cannot open map"),
            (["served.orx", "no-such-folder/x.pmtiles"], "no-such-folder"),
        ]
        for args, message in cases:
            r = run_tiles(ORVEX, args, WORKDIR)
            self.assertNotEqual(r.returncode, 0, args)
            self.assertIn(message, r.stderr, args)
            self.assertFalse(os.path.exists(os.path.join(WORKDIR, "x.pmtiles")))


class Terrain(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = os.path.join(WORKDIR, "terrain")
        os.makedirs(cls.folder, exist_ok=True)
        rnd = random.Random(21)
        cls.values = [rnd.randint(-10000, 8800) for _ in range(1024)]
        cls.map = column_map(ORVEX, cls.folder, cls.values)

    def test_decoded_elevations_are_the_samples(self):
        r = run_tiles(ORVEX, [self.map, "t.mbtiles", "-z", "2", "--kind", "terrain", "--overwrite"], self.folder)
        self.assertEqual(r.returncode, 0, r.stderr)
        db = sqlite3.connect(os.path.join(self.folder, "t.mbtiles"))
        meta = dict(db.execute("SELECT name, value FROM metadata"))
        self.assertEqual(meta["encoding"], "terrarium")
        server = Server(ORVEX, [self.map], self.folder)
        try:
            status, _, body = server.get("/tiles/columns.terrain.json")
            self.assertEqual(status, 200)
            tj = json.loads(body)
            self.assertEqual(tj["encoding"], "terrarium")
            self.assertTrue(tj["tiles"][0].endswith("/tiles/columns/{z}/{x}/{y}.terrain.png"))
            for x in range(4):
                for y in (1, 2):  # rows of tiles within 80 degrees of the equator
                    status, _, png = server.get("/tiles/columns/2/%d/%d.terrain.png" % (x, y))
                    self.assertEqual(status, 200)
                    stored = db.execute("SELECT tile_data FROM tiles WHERE zoom_level=2 AND tile_column=? AND "
                                        "tile_row=?", (x, 3 - y)).fetchone()[0]
                    self.assertEqual(bytes(stored), png, (x, y))
                    rgb = decode_png(png).astype(numpy.float64)
                    self.assertEqual(rgb.shape[0], 3)  # no alpha: no data is sea level
                    metres = rgb[0] * 256 + rgb[1] + rgb[2] / 256 - 32768
                    want = numpy.array(self.values[256 * x:256 * (x + 1)], dtype=numpy.float64)
                    for row in (0, 100, 255):
                        numpy.testing.assert_array_equal(metres[row], want, "tile %d/%d row %d" % (x, y, row))
        finally:
            server.close()

    def test_terrain_needs_an_elevation_grid(self):
        r = run_tiles(ORVEX, [self.map, "x.pmtiles", "--kind", "terrain", "--layer", "5"], self.folder)
        self.assertEqual(r.returncode, 2)
        self.assertIn("not an elevation grid", r.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
