"""What the tests of `orvex serve` share: a small world map with land at
known places, a server on a free port of 127.0.0.1, PNG decoding and the
Web Mercator pixel of a position."""
import math
import os
import re
import signal
import struct
import subprocess
import urllib.error
import urllib.request
import zlib

# Land boxes of the test map (south, north, west, east; east < west crosses
# 180 degrees) and their elevations; everything else is sea at -3000 m.
LAND = [(0, 40, 0, 40, 500), (-50, -30, 170, -171, 800)]
SEA = -3000


def elevation_at(lat, lon):
    for south, north, west, east, z in LAND:
        inside_lon = west <= lon <= east if west <= east else (lon >= west or lon <= east)
        if south <= lat <= north and inside_lon:
            return z
    return SEA


def make_map(orvex, folder):
    """A 1-degree world relief (360 x 181, rows from 90 N) built into
    served.orx in 2 x 4 tiles; returns its path."""
    rows = []
    for r in range(181):
        lat = 90 - r
        rows.append(struct.pack("<360h", *[elevation_at(lat, -180 + c) for c in range(360)]))
    dem = os.path.join(folder, "world.dem")
    with open(dem, "wb") as f:
        f.write(b"".join(rows))
    with open(dem + ".pf", "w") as f:
        f.write("lat 90\ndlat -1\nlon -180\ndlon 1\nnlat 181\nnlon 360\n")
    out = os.path.join(folder, "served.orx")
    subprocess.run([orvex, "build", out, "--overwrite", "--grid", dem, "--tiles", "2x4", "--name", "relief",
                    "--label", "1 degree"], check=True, capture_output=True)
    return out


class Server:
    """`orvex serve ARGS --port 0`, stopped with SIGINT on close."""

    def __init__(self, orvex, args, cwd):
        self.proc = subprocess.Popen([orvex, "serve", *args, "--port", "0"], cwd=cwd, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        m = re.search(r"at (http://127\.0\.0\.1:(\d+))/", line)
        if not m:
            self.proc.kill()
            raise RuntimeError("no address from orvex serve: %r %r" % (line, self.proc.stderr.read()))
        self.url, self.port = m.group(1), int(m.group(2))

    def get(self, path, headers=None):
        """(status, headers, body) of a GET; 4xx and 5xx are answers too."""
        req = urllib.request.Request(self.url + path, headers=headers or {})
        try:
            with urllib.request.urlopen(req, timeout=30) as r:
                return r.status, r.headers, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers, e.read()

    def close(self):
        """Stops the server as Ctrl-C does; returns its exit status and
        standard error."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
        try:
            self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        return self.proc.returncode, self.proc.stderr.read()


def read_png(data):
    """(width, height, rows) of an 8-bit RGB, RGBA or palette PNG, rows as
    lists of (r, g, b) tuples."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, header, palette = 8, b"", None, b""
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = body
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour in (2, 3, 6) and interlace == 0, header
    assert colour != 3 or len(palette) % 3 == 0 and palette, "palette PNG without a palette"
    bpp = {2: 3, 3: 1, 6: 4}[colour]
    raw = zlib.decompress(idat)
    stride = width * bpp
    rows, prev = [], bytearray(stride)
    for j in range(height):
        kind = raw[j * (stride + 1)]
        line = bytearray(raw[j * (stride + 1) + 1:(j + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        if colour == 3:
            rows.append([tuple(palette[3 * v:3 * v + 3]) for v in line])
        else:
            rows.append([tuple(line[i * bpp:i * bpp + 3]) for i in range(width)])
        prev = line
    return width, height, rows


def world_pixel(lat, lon, z):
    """Web Mercator pixel of a position in the world of zoom z."""
    n = 256 * 2 ** z
    x = (lon + 180) / 360 * n
    y = (1 - math.log(math.tan(math.radians(lat)) + 1 / math.cos(math.radians(lat))) / math.pi) / 2 * n
    return x, y


def is_sea(rgb):
    r, g, b = rgb
    return b > r + 30 and b >= g


def is_land(rgb):
    return not is_sea(rgb) and max(rgb) - min(rgb) > 10
