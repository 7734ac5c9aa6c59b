"""Checks of the programs behind bench/compare-gdal.sh, against numpy and
GDAL's own command-line tools as independent readers:
  - the grid maker: same salt, same bytes; exact headers; about 60 % sea;
    GDAL finds through the .hdr the sample the .pf places at each position;
  - the command measurer: anonymous and file-mapped peaks, exit statuses;
  - the read benchmarks: their sums equal numpy's over the same samples.

Usage: compare_bench_check.py BENCH_DIR ORVEX WORK_DIR
BENCH_DIR holds compare_grid, compare_run, compare_read_orvex and, when
GDAL's development files were found, compare_read_gdal.
"""
import json
import os
import re
import subprocess
import sys
import unittest

import numpy as np

BENCH, ORVEX, WORK = sys.argv[1:4]
NLAT, NLON = 1600, 3200  # whole 256-sample blocks neither way: edge blocks read too


def run(*args, **kw):
    return subprocess.run(list(args), capture_output=True, text=True, **kw)


def tool(name):
    return os.path.join(BENCH, name)


def make_grid(name, salt, nlat=NLAT, nlon=NLON):
    path = os.path.join(WORK, name + ".dem")
    p = run(tool("compare_grid"), path, str(nlat), str(nlon), str(salt))
    assert p.returncode == 0, p.stderr
    return path, p.stdout


def samples(path, nlat=NLAT, nlon=NLON):
    return np.fromfile(path, "<i2").reshape(nlat, nlon)


def splitmix(state):
    state = (state + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
    x = state
    x = ((x ^ (x >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
    x = ((x ^ (x >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
    return state, x ^ (x >> 31)


def looked_up_sum(grid, count, salt):
    """The sum of the samples at the random positions the benchmarks draw:
    a row, a column, then two draws that move the position within 0.4 of
    a step, which do not change the nearest sample."""
    s, total = salt, 0
    for _ in range(count):
        s, r = splitmix(s)
        s, c = splitmix(s)
        s, _ = splitmix(s)
        s, _ = splitmix(s)
        total += int(grid[r % grid.shape[0], c % grid.shape[1]])
    return total


def bench_line(program, *args):
    p = run(program, *map(str, args))
    assert p.returncode == 0, p.stderr
    return dict(kv.split("=") for kv in p.stdout.split())


class GridMaker(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.path, cls.info = make_grid("salt7", 7)
        cls.z = samples(cls.path)

    def test_same_salt_same_bytes_other_salt_others(self):
        again, _ = make_grid("salt7-again", 7)
        other, _ = make_grid("salt8", 8)
        self.assertTrue(np.array_equal(samples(again), self.z))
        self.assertGreater(np.count_nonzero(samples(other) != self.z), NLAT * NLON // 10)

    def test_headers_exact(self):
        with open(self.path + ".pf") as f:
            self.assertEqual(f.read(), "lat 90\ndlat -0.1125\nlon -180\ndlon 0.1125\n"
                                       "nlat 1600\nnlon 3200\n")
        with open(self.path[:-4] + ".hdr") as f:
            self.assertEqual(f.read(), "BYTEORDER I\nLAYOUT BIL\nNROWS 1600\nNCOLS 3200\nNBANDS 1\n"
                                       "NBITS 16\nPIXELTYPE SIGNEDINT\nULXMAP -180\nULYMAP 90\n"
                                       "XDIM 0.1125\nYDIM 0.1125\nNODATA -9999\n")
        self.assertEqual(os.path.getsize(self.path), NLAT * NLON * 2)

    def test_sea_share_and_smooth_land(self):
        sea = self.z == -9999
        self.assertTrue(0.57 < sea.mean() < 0.63, sea.mean())
        self.assertEqual(self.info, "salt 7, %.1f %% no-data sea\n" % (100 * sea.mean()))
        land = self.z[~sea]
        self.assertTrue(land.min() >= 0 and 2000 < land.max() <= 8800)
        both = ~sea[:, 1:] & ~sea[:, :-1]
        step = np.abs(np.diff(self.z.astype(int), axis=1))[both]
        self.assertLess(np.percentile(step, 99), 400)

    def test_gdal_reads_the_same_samples_where_the_pf_places_them(self):
        bil = self.path[:-4] + ".bil"
        info = json.loads(run("gdalinfo", "-json", bil).stdout)
        self.assertEqual(info["bands"][0]["noDataValue"], -9999)
        # Land samples unlike their four neighbours, probed 0.3 of a step to
        # either side: a header off by half a step answers a neighbour.
        z = self.z.astype(int)
        unlike = np.zeros(z.shape, bool)
        unlike[1:-1, 1:-1] = ((z[1:-1, 1:-1] >= 0) & (z[1:-1, 1:-1] != z[:-2, 1:-1]) &
                              (z[1:-1, 1:-1] != z[2:, 1:-1]) & (z[1:-1, 1:-1] != z[1:-1, :-2]) &
                              (z[1:-1, 1:-1] != z[1:-1, 2:]))
        rows, cols = np.nonzero(unlike)
        for i in np.linspace(0, len(rows) - 1, 3).astype(int):
            for off in (-0.3, 0.3):
                lat, lon = 90 - (rows[i] + off) * 0.1125, -180 + (cols[i] + off) * 0.1125
                p = run("gdallocationinfo", "-valonly", "-geoloc", bil, repr(lon), repr(lat))
                self.assertEqual(int(p.stdout), z[rows[i], cols[i]], (rows[i], cols[i], off))
        p = run("gdallocationinfo", "-valonly", "-geoloc", bil, "179.9", "-89.9")
        self.assertEqual(int(p.stdout), z[-1, -1])


class Measurer(unittest.TestCase):
    def measure(self, *command):
        result = os.path.join(WORK, "measured")
        p = run(tool("compare_run"), result, *command)
        with open(result) as f:
            return p, {k: float(v) for k, v in (kv.split("=") for kv in f.read().split())}

    def test_anonymous_and_file_peaks(self):
        p, m = self.measure(sys.executable, "-c",
                            "import time; b = bytearray(96 << 20); time.sleep(0.2)")
        self.assertEqual(p.returncode, 0)
        self.assertGreater(m["anon_kb"], 96 * 1024)
        self.assertLess(m["file_kb"], 64 * 1024)
        self.assertGreaterEqual(m["total_kb"], m["anon_kb"])
        path, _ = make_grid("mapped", 3, 4000, 8000)  # 64 MB
        p, m = self.measure(sys.executable, "-c",
                            "import mmap, sys, time; f = open(sys.argv[1], 'rb');"
                            "m = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ);"
                            "sum(m[i] for i in range(0, len(m), 4096)); time.sleep(0.2)", path)
        self.assertGreater(m["file_kb"], 60 * 1024)
        self.assertLess(m["anon_kb"], 48 * 1024)

    def test_exit_status_passed_on(self):
        p, m = self.measure("sh", "-c", "exit 3")
        self.assertEqual(p.returncode, 3)
        self.assertGreaterEqual(m["seconds"], 0)
        p, _ = self.measure("/nonexistent/program")
        self.assertEqual(p.returncode, 127)
        self.assertIn("cannot run", p.stderr)


class ReadBenchmarks(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.grid, _ = make_grid("read", 11)
        cls.z = samples(cls.grid)
        cls.orx = os.path.join(WORK, "read.orx")
        p = run(ORVEX, "build", cls.orx, "--grid", cls.grid, "--dec", "1", "--tiles", "20x40",
                "--quiet", "--overwrite")
        assert p.returncode == 0, p.stderr
        cls.tif = os.path.join(WORK, "read.tif")
        cls.readers = [(tool("compare_read_orvex"), cls.orx)]
        if os.path.exists(tool("compare_read_gdal")):
            p = run("gdal_translate", "-q", "-of", "GTiff", "-co", "TILED=YES", "-co", "COMPRESS=DEFLATE",
                    cls.grid[:-4] + ".bil", cls.tif)
            assert p.returncode == 0, p.stderr
            cls.readers.append((tool("compare_read_gdal"), cls.tif))

    def test_every_tile_summed_once(self):
        want = int(self.z.astype(np.int64).sum())
        for program, path in self.readers:
            for threads in (1, 2, 3):
                line = bench_line(program, path, "tiles", threads)
                self.assertEqual(int(line["checksum"]), want, (program, threads))
                self.assertEqual(line["unit"], "MB/s")

    def test_lookups_find_the_drawn_samples(self):
        want = looked_up_sum(self.z, 5000, 42)
        for program, path in self.readers:
            for threads in (1, 2):
                line = bench_line(program, path, "lookups", threads, 5000, 42)
                self.assertEqual(int(line["checksum"]), want, (program, threads))

    def test_bad_arguments_and_files(self):
        for program, path in self.readers:
            self.assertEqual(run(program, path, "blocks", "1").returncode, 2)
            self.assertEqual(run(program, path, "tiles", "0").returncode, 2)
            p = run(program, self.grid + ".pf", "tiles", "1")
            self.assertEqual(p.returncode, 1)
            self.assertIn(os.path.basename(program), p.stderr)


@unittest.skipUnless(os.path.exists(tool("compare_read_gdal")), "GDAL's reader not built")
class Script(unittest.TestCase):
    def test_tiny_run_fills_the_table_and_both_sides_agree(self):
        script = os.path.join(os.path.dirname(__file__), "..", "..", "bench", "compare-gdal.sh")
        table = os.path.join(WORK, "table.md")
        p = run("bash", script, "--scale", "0.02", "--runs", "2", "--lookups", "2000",
                "--build", os.path.dirname(BENCH), "--work", os.path.join(WORK, "script"),
                "--out", table)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertNotIn("WARNING", p.stderr)
        with open(table) as f:
            self.assertEqual(f.read(), p.stdout)
        rows = [line for line in p.stdout.splitlines() if line.startswith("| ") and "---" not in line]
        self.assertEqual(len(rows), 1 + 4 + 1 + 2 + 2)  # heading, pyramids, size, tiles, look-ups
        self.assertIn("Grid 240 × 480 int16", p.stdout)
        for row in rows[1:]:
            cells = [c.strip() for c in row.strip("|").split("|")]
            self.assertTrue(all(cells) and not re.search(r"\| 0(\.0*)? ×", row), row)


if __name__ == "__main__":
    os.makedirs(WORK, exist_ok=True)
    unittest.main(argv=sys.argv[:1], verbosity=2)
