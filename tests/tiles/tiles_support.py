"""What the tests of `orvex tiles` share: the test maps, PNG decoding by
GDAL (a reader we did not write), the npm pmtiles reader run by node, and
the tiles of a zoom as `orvex serve` draws them."""
import base64
import json
import os
import shutil
import struct
import subprocess
import sys
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "serve"))
WEB = os.path.join(HERE, "..", "web")

from serve_support import Server, make_map  # noqa: E402,F401


def gdal():
    from osgeo import gdal as g
    g.UseExceptions()
    return g


def decode_png(data):
    """The bands of a PNG as a numpy array (bands, rows, columns), read by
    GDAL."""
    g = gdal()
    name = "/vsimem/%s.png" % uuid.uuid4().hex
    g.FileFromMemBuffer(name, data)
    try:
        ds = g.Open(name)
        if ds.GetRasterBand(1).GetColorTable() is not None:
            ds = g.Translate("", ds, format="MEM", rgbExpand="rgb")
        return ds.ReadAsArray().reshape(ds.RasterCount, ds.RasterYSize, ds.RasterXSize)
    finally:
        g.Unlink(name)


def have_node_reader():
    return shutil.which("node") and os.path.isdir(os.path.join(WEB, "node_modules", "pmtiles"))


def read_pmtiles(path, tiles):
    """Header, metadata, the reader's tile numbers and the bytes of tiles
    z/x/y (None where absent), as the npm pmtiles package reads them."""
    out = subprocess.run(["node", os.path.join(WEB, "read_pmtiles.mjs"), path] + ["%d/%d/%d" % t for t in tiles],
                         check=True, capture_output=True, text=True, cwd=WEB).stdout
    doc = json.loads(out)
    doc["tiles"] = {tuple(map(int, k.split("/"))): base64.b64decode(v) if v is not None else None
                    for k, v in doc["tiles"].items()}
    return doc


def run_tiles(orvex, args, cwd, env=None):
    return subprocess.run([orvex, "tiles", *args], cwd=cwd, capture_output=True, text=True, env=env)


def column_map(orvex, folder, values):
    """A relief whose elevation depends on longitude alone: one column of
    samples per pixel of zoom 2 (1024 across, the first at the first
    pixel's centre), rows every degree from 85 N to 85 S. Returns its
    path."""
    dem = os.path.join(folder, "columns.dem")
    with open(dem, "wb") as f:
        row = struct.pack("<%dh" % len(values), *values)
        f.write(row * 171)
    step = 360 / len(values)
    with open(dem + ".pf", "w") as f:
        f.write("lat 85\ndlat -1\nlon %.10f\ndlon %.10f\nnlat 171\nnlon %d\n" % (-180 + step / 2, step, len(values)))
    out = os.path.join(folder, "columns.orx")
    subprocess.run([orvex, "build", out, "--overwrite", "--grid", dem, "--tiles", "1x4", "--name", "columns"],
                   check=True, capture_output=True)
    return out
