#!/usr/bin/env bash
# Builds the default map, maps/orx/default.orx, from public data that Debian
# packages ship, and installs it in the data folder where the library finds
# it. The packages are fetched with apt-get download and unpacked into a
# cache folder, not installed.
#
#   scripts/build-default-map.sh [--orvex PATH] [--datadir DIR] [--cache DIR]
#
#   --orvex PATH   the orvex command (default: out/bin/orvex, build/src/tools/orvex
#                  or orvex on PATH)
#   --datadir DIR  the data folder (default: out/share/orvex); the map goes to
#                  DIR/maps/orx/default.orx. Point ORVEX_DATA at DIR when it is
#                  not the installed data folder.
#   --cache DIR    downloads and converted sources (default: build/default-map)
#
# Sources: ETOPO5 relief (ferret-datasets), the xplanet Earth image
# (xplanet-images), GSHHG shorelines, WDB borders and rivers in GMT's binned
# netCDF files (gmt-gshhg-low, gmt-gshhg-high), read with python3-netcdf4.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
orvex=""
datadir="$top/out/share/orvex"
cache="$top/build/default-map"

while [ $# -gt 0 ]; do
  case "$1" in
    --orvex) orvex=$2; shift 2 ;;
    --datadir) datadir=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "build-default-map: unknown argument '$1'" >&2; exit 2 ;;
  esac
done

if [ -z "$orvex" ]; then
  for candidate in "$top/out/bin/orvex" "$top/build/release/src/tools/orvex" "$top/build/src/tools/orvex"; do
    if [ -x "$candidate" ]; then orvex=$candidate; break; fi
  done
  [ -n "$orvex" ] || orvex=$(command -v orvex || true)
fi
[ -n "$orvex" ] && [ -x "$orvex" ] || { echo "build-default-map: no orvex command found (use --orvex)" >&2; exit 1; }
# The build runs in the cache folder: a relative path would be lost there.
orvex=$(cd "$(dirname "$orvex")" && pwd)/$(basename "$orvex")

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
start=$(date +%s)
mkdir -p "$cache/debs" "$cache/root" "$cache/src"
cache=$(cd "$cache" && pwd)
root="$cache/root"

# fetch PACKAGE: downloads the package once and unpacks it under $root.
fetch() {
  local pkg=$1
  if ! ls "$cache/debs/${pkg}"_*.deb >/dev/null 2>&1; then
    echo "build-default-map: fetching $pkg"
    if ! (cd "$cache/debs" && apt-get download "$pkg" >/dev/null 2>&1); then
      $SUDO apt-get update -qq
      (cd "$cache/debs" && apt-get download "$pkg" >/dev/null)
    fi
  fi
  dpkg-deb -x "$(ls "$cache/debs/${pkg}"_*.deb | head -n 1)" "$root"
}

fetch ferret-datasets
fetch xplanet-images
fetch gmt-gshhg-low
fetch gmt-gshhg-high

# The Earth image is a JPEG; djpeg turns it into a PPM.
djpeg=$(command -v djpeg || true)
if [ -z "$djpeg" ]; then
  fetch libjpeg-turbo-progs
  djpeg="$root/usr/bin/djpeg"
  if ! "$djpeg" -version >/dev/null 2>&1 </dev/null; then
    $SUDO apt-get install -y -qq libjpeg-turbo-progs >/dev/null
    djpeg=$(command -v djpeg)
  fi
fi

# GSHHG's files are netCDF-4 (HDF5): Debian's Python reads them with
# python3-netcdf4, which scripts/install-deps.sh installs.
if ! /usr/bin/python3 -c "import netCDF4" 2>/dev/null; then
  $SUDO apt-get install -y -qq python3-netcdf4 >/dev/null
fi

convert="python3 $top/scripts/default-map/convert_sources.py"
src="$cache/src"
$convert etopo "$root/usr/share/ferret-vis/data/etopo5.cdf" "$src/etopo5.dem"
"$djpeg" -pnm "$root/usr/share/xplanet/images/earth.jpg" > "$src/earth.ppm"
$convert ppm "$src/earth.ppm" "$src/earth.rgb"
rm -f "$src/earth.ppm"
# Whole rings and lines rebuilt from the binned pieces. The low-detail
# rivers keep levels 1-2 (river-lakes, permanent major rivers); the others
# add level 3 (additional major rivers).
binned="/usr/bin/python3 $top/scripts/default-map/gshhg_binned.py"
gshhg="$root/usr/share/gmt-gshhg"
for d in c l i h; do $binned shore "$gshhg/binned_GSHHS_$d.nc" "$src/shore-$d.gshhs"; done
for d in l i h; do $binned border "$gshhg/binned_border_$d.nc" 1 "$src/borders-$d.gshhs"; done
$binned river "$gshhg/binned_river_l.nc" 2 "$src/rivers-l.gshhs"
for d in i h; do $binned river "$gshhg/binned_river_$d.nc" 3 "$src/rivers-$d.gshhs"; done

cp "$top/scripts/default-map/default.recipe" "$src/default.recipe"
map="$src/default.orx"
echo "build-default-map: building $map"
# Standard output carries the library's progress and cleaning lines.
(cd "$src" && "$orvex" build default.orx --overwrite --recipe default.recipe > "$cache/build.log")
"$orvex" check "$map"

mkdir -p "$datadir/maps/orx"
cp "$map" "$datadir/maps/orx/default.orx.new"
mv "$datadir/maps/orx/default.orx.new" "$datadir/maps/orx/default.orx"
size=$(stat -c %s "$datadir/maps/orx/default.orx")
echo "build-default-map: installed $datadir/maps/orx/default.orx ($size bytes) in $(( $(date +%s) - start )) s"
