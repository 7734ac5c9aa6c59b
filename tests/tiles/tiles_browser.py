"""Tile archives on a plain static web server, in MapLibre GL JS (npm
maplibre-gl with the npm pmtiles protocol) in headless Chromium, with no
orvex process running: the picture archive shows land and sea where the map
has them, the terrain archive raises the ground to the map's elevations,
and every archive byte came through HTTP range requests. Exits 77 (skipped)
where Chromium, its driver, selenium or the npm packages are missing.

Usage: tiles_browser.py ORVEX WORKDIR"""
import os
import shutil
import subprocess
import sys
import time

from range_server import RangeServer
from tiles_support import WEB, Server, make_map, run_tiles

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "serve"))
from serve_browser import SKIP, wait_for  # noqa: E402
from serve_support import is_land, is_sea, read_png  # noqa: E402

PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8">
<link rel="stylesheet" href="maplibre-gl.css">
<script src="maplibre-gl.js"></script><script src="pmtiles.js"></script>
<style>html, body, #map { margin: 0; width: 100%; height: 100%; }</style>
</head><body><div id="map"></div><script>
"use strict";
window.state = { errors: [], idle: false };
const protocol = new pmtiles.Protocol();
maplibregl.addProtocol("pmtiles", protocol.tile);
const base = location.origin + "/";
const map = new maplibregl.Map({
  container: "map", center: [20, 10], zoom: 1.5, fadeDuration: 0,
  style: {
    version: 8,
    sources: {
      world: { type: "raster", url: "pmtiles://" + base + "world.pmtiles", tileSize: 256 },
      dem: { type: "raster-dem", url: "pmtiles://" + base + "terrain.pmtiles", tileSize: 256, encoding: "terrarium" }
    },
    layers: [{ id: "world", type: "raster", source: "world" }],
    terrain: { source: "dem", exaggeration: 1 }
  }
});
map.on("error", e => window.state.errors.push(String(e.error && e.error.message || e)));
map.on("idle", () => { window.state.idle = true; });
window.map = map;
</script></body></html>
"""


def driver_or_skip():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        print("SKIP: python3-selenium is not installed")
        sys.exit(SKIP)
    browser, driver = shutil.which("chromium"), shutil.which("chromedriver")
    if not browser or not driver:
        print("SKIP: chromium or chromium-driver is not installed")
        sys.exit(SKIP)
    options = webdriver.ChromeOptions()
    options.binary_location = browser
    # WebGL from the software renderer: no GPU on test machines.
    for arg in ("--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
                "--ignore-gpu-blocklist", "--disable-dev-shm-usage", "--window-size=800,600",
                "--force-device-scale-factor=1", "--no-first-run", "--disable-extensions"):
        options.add_argument(arg)
    return webdriver.Chrome(service=Service(driver), options=options)


def static_site(orvex, workdir):
    """The archives, the page and the npm packages' files in one folder."""
    site = os.path.join(workdir, "site")
    os.makedirs(site, exist_ok=True)
    served = make_map(orvex, workdir)
    for out, kind in (("world.pmtiles", "picture"), ("terrain.pmtiles", "terrain")):
        r = run_tiles(orvex, [served, out, "-z", "0-2", "--kind", kind, "--overwrite"], site)
        if r.returncode != 0:
            raise AssertionError(r.stderr)
    for f in ("maplibre-gl/dist/maplibre-gl.js", "maplibre-gl/dist/maplibre-gl.css", "pmtiles/dist/pmtiles.js"):
        shutil.copy(os.path.join(WEB, "node_modules", f), site)
    with open(os.path.join(site, "index.html"), "w") as f:
        f.write(PAGE)
    return site


def check_serve_3d(driver, orvex, workdir, failures):
    """The page of `orvex serve` offers 3D, and its 3D view stands on the
    terrain tiles."""
    server = Server(orvex, ["served.orx"], workdir)
    try:
        driver.get(server.url + "/")
        wait_for(driver, "return document.getElementById('view3d')")
        driver.get(server.url + "/?3d=served")
        wait_for(driver, "return window.orvex && window.orvex.ready && window.orvex.map3d.loaded()", 60)
        if driver.execute_script("return window.orvex.tileErrors"):
            failures.append("the 3D view of serve's page had errors")
        height = ("const t = window.orvex.map3d.terrain; return t.getElevationForLngLatZoom("
                  "maplibregl.LngLat.convert(%s), Math.floor(window.orvex.map3d.getZoom())) / t.exaggeration")
        land_m = driver.execute_script(height % "[20, 20]")
        if land_m is None or abs(land_m - 500) > 1:
            failures.append("serve's 3D view has %s m at 20 N 20 E, not 500" % land_m)
        with open(os.path.join(workdir, "serve-3d.png"), "wb") as f:
            f.write(driver.get_screenshot_as_png())
    finally:
        server.close()


def main():
    orvex, workdir = sys.argv[1], sys.argv[2]
    if not os.path.isdir(os.path.join(WEB, "node_modules", "maplibre-gl")):
        print("SKIP: tests/web/node_modules is missing (npm ci in tests/web)")
        sys.exit(SKIP)
    driver = driver_or_skip()
    os.makedirs(workdir, exist_ok=True)
    site = static_site(orvex, workdir)
    server = RangeServer(site)
    failures = []
    try:
        driver.get(server.url + "/index.html")
        wait_for(driver, "return window.state && window.state.idle && window.map.loaded()", 60)
        errors = driver.execute_script("return window.state.errors")
        if errors:
            failures.append("MapLibre reported errors: %s" % errors)
        # The terrain under the land box (500 m) and the sea (-3000 m), in
        # metres above sea level (not relative to the screen's centre).
        height = ("return window.map.terrain.getElevationForLngLatZoom(maplibregl.LngLat.convert(%s), "
                  "Math.floor(window.map.getZoom()))")
        land_m = driver.execute_script(height % "[20, 20]")
        sea_m = driver.execute_script(height % "[-20, -10]")
        if land_m is None or abs(land_m - 500) > 1:
            failures.append("terrain at 20 N 20 E is %s m, not 500" % land_m)
        if sea_m is None or abs(sea_m + 3000) > 1:
            failures.append("terrain at 10 S 20 W is %s m, not -3000" % sea_m)
        land = driver.execute_script("const p = window.map.project([20, 20]); return [p.x, p.y]")
        png = driver.get_screenshot_as_png()
        with open(os.path.join(workdir, "maplibre.png"), "wb") as f:
            f.write(png)
        _, _, rows = read_png(png)
        grid = [rows[j][i] for j in range(0, len(rows), 8) for i in range(0, len(rows[0]), 8)]
        lands, seas = sum(map(is_land, grid)), sum(map(is_sea, grid))
        if lands < len(grid) // 50 or seas < len(grid) // 3:
            failures.append("the screenshot shows too little: %d land, %d sea of %d" % (lands, seas, len(grid)))
        if not is_land(rows[int(land[1])][int(land[0])]):
            failures.append("no land drawn at 20 N 20 E: %s" % (rows[int(land[1])][int(land[0])],))
        archive = [entry for entry in server.log if entry[0].endswith(".pmtiles")]
        whole = [entry for entry in archive if entry[2] != 206]
        if not archive or whole:
            failures.append("archives not read by ranges: %s" % whole[:5])
        for name in ("/world.pmtiles", "/terrain.pmtiles"):
            if not any(entry[0] == name for entry in archive):
                failures.append("%s was never read" % name)
        check_serve_3d(driver, orvex, workdir, failures)
        print("%d range requests; terrain %s m on land, %s m at sea; %d land, %d sea of %d pixels"
              % (len(archive), land_m, sea_m, lands, seas, len(grid)))
    finally:
        driver.quit()
        server.close()
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
