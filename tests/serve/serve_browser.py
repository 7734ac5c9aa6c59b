"""The page of `orvex serve` in headless Chromium: it loads, shows its
tiles with land and sea where the map has them, and a click on a known
place shows the values there. Exits 77 (skipped) where Chromium, its
driver or Python's selenium is missing.

Usage: serve_browser.py ORVEX WORKDIR [SCREENSHOT.png]"""
import os
import shutil
import sys
import time

from serve_support import Server, is_land, is_sea, make_map, read_png

SKIP = 77


def driver_or_skip():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        print("SKIP: python3-selenium is not installed")
        sys.exit(SKIP)
    browser = shutil.which("chromium")
    driver = shutil.which("chromedriver")
    if not browser or not driver:
        print("SKIP: chromium or chromium-driver is not installed")
        sys.exit(SKIP)
    options = webdriver.ChromeOptions()
    options.binary_location = browser
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--window-size=800,600",
                "--force-device-scale-factor=1", "--no-first-run", "--disable-extensions"):
        options.add_argument(arg)
    return webdriver.Chrome(service=Service(driver), options=options)


def wait_for(driver, script, seconds=30):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = driver.execute_script(script)
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for: " + script)


def main():
    orvex, workdir = sys.argv[1], sys.argv[2]
    shot = sys.argv[3] if len(sys.argv) > 3 else os.path.join(workdir, "serve-page.png")
    driver = driver_or_skip()
    make_map(orvex, workdir)
    server = Server(orvex, ["served.orx"], workdir)
    failures = []
    try:
        driver.get(server.url + "/")
        wait_for(driver, "return window.orvex && window.orvex.ready && window.orvex.tilesLoaded >= 4")
        driver.execute_script("window.orvex.map.setView([10, 20], 2, {animate: false})")
        wait_for(driver, "return window.orvex.map._panes && "
                 "document.querySelectorAll('.leaflet-tile-loaded').length >= 6")
        time.sleep(0.3)
        if driver.execute_script("return window.orvex.tileErrors"):
            failures.append("tiles failed to load")
        # Where the map's land and sea lie on the screen.
        land = driver.execute_script("const p = window.orvex.map.latLngToContainerPoint([20, 20]); return [p.x, p.y]")
        sea = driver.execute_script("const p = window.orvex.map.latLngToContainerPoint([-10, -20]); return [p.x, p.y]")
        png = driver.get_screenshot_as_png()
        with open(shot, "wb") as f:
            f.write(png)
        _, _, rows = read_png(png)
        grid = [rows[j][i] for j in range(0, len(rows), 8) for i in range(0, len(rows[0]), 8)]
        lands, seas = sum(map(is_land, grid)), sum(map(is_sea, grid))
        if lands < len(grid) // 50 or seas < len(grid) // 2:
            failures.append("the screenshot shows too little: %d land, %d sea of %d" % (lands, seas, len(grid)))
        if not is_land(rows[int(land[1])][int(land[0])]):
            failures.append("no land at 20 N 20 E: %s" % (rows[int(land[1])][int(land[0])],))
        if not is_sea(rows[int(sea[1])][int(sea[0])]):
            failures.append("no sea at 10 S 20 W: %s" % (rows[int(sea[1])][int(sea[0])],))
        # A click on the land shows its elevation.
        from selenium.webdriver.common.action_chains import ActionChains
        element = driver.find_element("id", "map")
        size = element.size
        ActionChains(driver).move_to_element_with_offset(element, int(land[0] - size["width"] / 2),
                                                         int(land[1] - size["height"] / 2)).click().perform()
        text = wait_for(driver, "const v = document.getElementById('value'); return v && v.textContent")
        if "relief: elevation 500 m" not in text:
            failures.append("the click shows %r" % text)
        pointer = driver.execute_script("return document.getElementById('pointer').textContent")
        if not pointer.startswith("20.0") and not pointer.startswith("19.9"):
            failures.append("the pointer shows %r" % pointer)
    finally:
        driver.quit()
        status, err = server.close()
    if status != 0:
        failures.append("the server ended with %d: %s" % (status, err))
    for f in failures:
        print("FAIL:", f)
    print("%d passed, %d failed" % (1 if not failures else 0, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
