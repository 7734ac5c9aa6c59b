"""The installed `orvex serve` needs nothing of the build tree: it serves
its page, Leaflet and tiles from an installed prefix.

Usage: serve_installed.py INSTALLED_ORVEX MAP"""
import os
import sys

from serve_support import Server

orvex, map_path = sys.argv[1], sys.argv[2]
server = Server(orvex, [os.path.abspath(map_path)], "/")
try:
    checks = [("/", b"leaflet.js"), ("/leaflet/leaflet.js", b"Leaflet"), ("/leaflet/leaflet.css", b".leaflet-"),
              ("/tiles/tiny/0/0/0.png", b"\x89PNG")]
    failed = 0
    for path, needle in checks:
        status, _, body = server.get(path)
        if status != 200 or needle not in body:
            print("FAIL: %s answered %d" % (path, status))
            failed += 1
finally:
    status, err = server.close()
print("%d passed, %d failed" % (len(checks) - failed, failed))
sys.exit(1 if failed or status != 0 else 0)
