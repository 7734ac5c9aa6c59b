#!/usr/bin/python3
"""Redraws the pictures of README.md and docs/: the page of `orvex serve`
over the Himalaya with the values at Mount Everest (docs/serve.png), and,
given an older build of the command, a before/after sheet of web tiles
(docs/before-after.png: each tile drawn by the older command on the left
and by this one on the right, several zooms and latitudes). OLD may also
be an earlier sheet (a .png): its left halves are kept and the right
halves redrawn.

Usage: readme_pictures.py ORVEX [OLD_ORVEX | OLD_SHEET.png] [--docs DIR]
Needs headless Chromium with chromium-driver and python3-selenium for the
screenshot, GDAL's Python bindings and numpy for the sheet. The map is
the default map (set ORVEX_DATA)."""
import os
import subprocess
import sys
import time
import urllib.request

TILES = [  # z, x, y: world, mid-latitudes, Alps, Swiss plateau, Nile delta, Arctic, Antarctica
    (0, 0, 0), (1, 1, 0), (5, 16, 11), (6, 33, 22), (6, 37, 26), (2, 2, 0), (3, 4, 0), (2, 1, 3)]


class Server:
    def __init__(self, orvex):
        self.proc = subprocess.Popen([orvex, "serve", "--port", "0"], stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        self.url = line[line.index("http://"):].split()[0].rstrip("/")

    def get(self, path):
        with urllib.request.urlopen(self.url + path, timeout=120) as r:
            return r.read()

    def close(self):
        self.proc.terminate()
        self.proc.wait()


def screenshot(orvex, out):
    from selenium import webdriver
    options = webdriver.ChromeOptions()
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1100,657",
                "--force-device-scale-factor=1", "--hide-scrollbars"):
        options.add_argument(arg)
    driver = webdriver.Chrome(options=options)
    server = Server(orvex)
    try:
        driver.get(server.url + "/")
        wait(driver, "return !!(window.orvex && window.orvex.map)")
        driver.execute_script("window.orvex.map.setView([29.5, 88], 5, {animate: false}); return 0;")
        wait(driver, "return document.querySelectorAll('.leaflet-tile-loaded').length >= 12")
        driver.execute_script("window.orvex.map.fire('click', {latlng: L.latLng(27.988, 86.925)}); return 0;")
        wait(driver, "return !!window.orvex.answer")
        time.sleep(1.5)
        driver.save_screenshot(out)
    finally:
        driver.quit()
        server.close()


def wait(driver, script, seconds=60):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if driver.execute_script(script):
            return
        time.sleep(0.2)
    raise RuntimeError("timed out: " + script)


def tiles_of(orvex):
    from osgeo import gdal
    server = Server(orvex)
    try:
        out = []
        for z, x, y in TILES:
            gdal.FileFromMemBuffer("/vsimem/t.png", server.get("/tiles/default/%d/%d/%d.png" % (z, x, y)))
            # Tiles of few colours come with a palette: expanded to RGB.
            rgb = gdal.Translate("/vsimem/t.tif", "/vsimem/t.png", rgbExpand="rgb") \
                if gdal.Open("/vsimem/t.png").GetRasterBand(1).GetColorTable() else gdal.Open("/vsimem/t.png")
            out.append(rgb.ReadAsArray()[:3])
            rgb = None
            gdal.Unlink("/vsimem/t.png")
            gdal.Unlink("/vsimem/t.tif")
        return out
    finally:
        server.close()


def halves_of(path, gap):
    """The left (older) tile of every pair of an earlier sheet."""
    from osgeo import gdal
    page = gdal.Open(path).ReadAsArray()[:3]
    return [page[:, gap + (k // 2) * (256 + gap):gap + (k // 2) * (256 + gap) + 256,
                 gap + (k % 2) * (512 + gap):gap + (k % 2) * (512 + gap) + 256].copy() for k in range(len(TILES))]


def sheet(old, new, out):
    """Pairs of tiles (old | new) in two columns, a white gap between."""
    import numpy
    from osgeo import gdal
    gap, rows = 8, (len(TILES) + 1) // 2
    before = halves_of(old, gap) if old.endswith(".png") else tiles_of(old)
    after = tiles_of(new)
    width, height = 2 * (512 + gap) + gap, rows * (256 + gap) + gap
    page = numpy.full((3, height, width), 255, numpy.uint8)
    for k, (a, b) in enumerate(zip(before, after)):
        top, left = gap + (k // 2) * (256 + gap), gap + (k % 2) * (512 + gap)
        page[:, top:top + 256, left:left + 256] = a
        page[:, top:top + 256, left + 256:left + 512] = b
    mem = gdal.GetDriverByName("MEM").Create("", width, height, 3, gdal.GDT_Byte)
    for band in range(3):
        mem.GetRasterBand(band + 1).WriteArray(page[band])
    gdal.GetDriverByName("PNG").CreateCopy(out, mem, options=["ZLEVEL=9"])


def main():
    args = sys.argv[1:]
    docs = "docs"
    if "--docs" in args:
        docs = args[args.index("--docs") + 1]
        del args[args.index("--docs"):args.index("--docs") + 2]
    orvex = args[0]
    screenshot(orvex, os.path.join(docs, "serve.png"))
    if len(args) > 1:
        sheet(args[1], orvex, os.path.join(docs, "before-after.png"))


if __name__ == "__main__":
    main()
