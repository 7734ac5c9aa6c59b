#!/usr/bin/env bash
# Installs the packages, builds liborvex and the orvex command, installs them
# (in /usr/local, or PREFIX), and runs the main job: the default map is built
# from public data and drawn to world.png.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
prefix=${PREFIX:-/usr/local}
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_BENCH=OFF >/dev/null
cmake --build build/release -j"$jobs"
$SUDO cmake --install build/release >/dev/null
$SUDO ldconfig 2>/dev/null || true
# GDAL's programs and QGIS look for drivers in GDAL's own plugin folder
# (or GDAL_DRIVER_PATH): the driver of map files, installed under the
# prefix, is linked there, so that `gdalinfo MAP.orx` works without settings.
gdal_plugins=/usr/lib/$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)/gdalplugins
driver="$prefix/lib/gdalplugins/gdal_ORX.so"
if [ -f "$driver" ] && [ "$prefix" != /usr ] && [ -d "$gdal_plugins" ]; then
  $SUDO ln -sf "$driver" "$gdal_plugins/gdal_ORX.so"
fi

# The main job: build the default map from public data that Debian packages
# ship, install it in the data folder where the library looks for it, and
# draw it.
orvex="$prefix/bin/orvex"
$SUDO bash scripts/build-default-map.sh --orvex "$orvex" --datadir "$prefix/share/orvex"
"$orvex" info
"$orvex" render -o world.png
echo "setup: drew the default map in $top/world.png"
if [ -f "$driver" ]; then
  echo "setup: GDAL and QGIS open map files in place: gdalinfo $prefix/share/orvex/maps/orx/default.orx"
fi
echo "setup: to browse it, run '$orvex serve' and open the address it prints (Ctrl-C stops it)"
