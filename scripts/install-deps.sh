#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and use liborvex
# (clang and its runtimes for the fuzz targets; GMT and its low-resolution
# GSHHG files for the test of the default map's shorelines; Chromium, its
# driver and selenium for the browser tests of `orvex serve` and of tile
# archives; rasterio for the test of the GDAL driver; node and npm for the
# web readers of tile archives, whose npm packages are pinned in
# tests/web/package-lock.json).
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
packages=(
  build-essential cmake pkg-config
  zlib1g-dev libdeflate-dev libsqlite3-dev libshp-dev shapelib libpng-dev libagg-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  python3 libjpeg-turbo-progs
  python3-numpy gdal-bin libgdal-dev python3-gdal python3-rasterio python3-netcdf4 gmt gmt-gshhg-low
  clang libclang-rt-14-dev
  libcpp-httplib-dev libjs-leaflet
  chromium chromium-driver python3-selenium
)
# Node.js and npm only where no npm is found: a machine's own Node.js (a
# vendor's package that carries npm) conflicts with Debian's npm package.
if ! command -v npm >/dev/null 2>&1; then packages+=(nodejs npm); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${missing[@]}"
fi

# The npm pmtiles reader and MapLibre GL JS, exactly as locked, for the
# tests of tile archives.
root=$(cd "$(dirname "$0")/.." && pwd)
(cd "$root/tests/web" && npm ci --no-audit --no-fund --loglevel=error)
