#!/usr/bin/env bash
# Web tiles of the default map's 5' relief, drawn by orvex and by the
# pipeline a GIS user would run on the same samples: `orvex export` of the
# grid, gdaldem color-relief with our palette and gdaldem hillshade,
# multiplied into one RGB raster, then gdal2tiles -r bilinear and -r near.
# Prints CPU per tile and bytes per tile side by side with the ratios.
#
# Usage: bench/compare-tiles.sh [--zoom MAX] [--map FILE] [--build DIR] [--work DIR] [--keep-gdal]
#   --zoom MAX   tiles of zoom 0 .. MAX (default 5)
#   --map FILE   the map (default $ORVEX_DATA/maps/orx/default.orx)
#   --build DIR  a build of the project with ORVEX_BUILD_BENCH=ON (default build/dev)
#   --work DIR   where the rasters and tiles go (default build/compare-tiles)
#   --keep-gdal  reuse gdal2tiles' tiles and times of an earlier run of the same zoom
# GDAL's preparation (export, colour, shading) is not counted; gdal2tiles
# runs on one process and its CPU time is divided by the tiles it wrote.
# orvex draws every tile from a cold cache (bench_draw_tiles).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
keep=0 zoom=5 map="${ORVEX_DATA:-/usr/share}/maps/orx/default.orx" build="$root/build/dev" work="$root/build/compare-tiles"
while [ $# -gt 0 ]; do
  case $1 in
    --zoom) zoom=$2; shift 2 ;;
    --map) map=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --keep-gdal) keep=1; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
orvex=$build/src/tools/orvex
drawer=$build/bench/bench_draw_tiles
[ -x "$orvex" ] && [ -x "$drawer" ] || { echo "build $build with ORVEX_BUILD_BENCH=ON first" >&2; exit 2; }
mkdir -p "$work"
cd "$work"

# The relief as GDAL's tools colour and shade it (relief.tif, not counted).
"$root/bench/gdal-relief.sh" "$orvex" "$map"

cpu_of() { # command...: CPU seconds (user + system) of the command
  /usr/bin/time -f "%U %S" -o cpu.txt "$@" > /dev/null 2>&1
  awk '{print $1 + $2}' cpu.txt
}
count_tiles() { find "$1" -name '*.png' | wc -l; }
bytes_of() { find "$1" -name '*.png' -printf '%s\n' | awk '{s += $1} END {print s}'; }

declare -A cpu bytes tiles
for r in near bilinear; do
  if [ "$keep" = 1 ] && [ -f "gdal-$r.z$zoom.cpu" ]; then
    cpu[$r]=$(cat "gdal-$r.z$zoom.cpu")
  else
    rm -rf "gdal-$r"
    cpu[$r]=$(cpu_of gdal2tiles.py -q --processes=1 --xyz -r "$r" -z "0-$zoom" -w none relief.tif "gdal-$r")
    echo "${cpu[$r]}" > "gdal-$r.z$zoom.cpu"
  fi
  tiles[$r]=$(count_tiles "gdal-$r")
  bytes[$r]=$(bytes_of "gdal-$r")
done

# The same tiles (every one gdal2tiles wrote) drawn by orvex.
list=$(cd gdal-near && find . -name '*.png' | sed 's|^\./||; s|\.png$||' | sort)
rm -rf orvex && mkdir orvex
"$drawer" "$map" orvex $list > orvex.txt
mean=$(tail -1 orvex.txt)
relief_ms=$(echo "$mean" | awk '{print $3}')
relief_bytes=$(echo "$mean" | awk '{print $5}')
whole_ms=$(echo "$mean" | awk '{print $9}')
whole_bytes=$(echo "$mean" | awk '{print $11}')
n=$(echo "$mean" | awk '{print $(NF-1)}')

printf '\nZoom 0-%s, %s tiles of 256 px (CPU per tile, mean bytes per tile)\n\n' "$zoom" "$n"
printf '| drawer | CPU ms/tile | bytes/tile | CPU vs gdal2tiles -r near | bytes vs -r bilinear |\n'
printf '|---|---|---|---|---|\n'
near_ms=$(awk -v c="${cpu[near]}" -v n="${tiles[near]}" 'BEGIN {printf "%.2f", 1000 * c / n}')
bil_ms=$(awk -v c="${cpu[bilinear]}" -v n="${tiles[bilinear]}" 'BEGIN {printf "%.2f", 1000 * c / n}')
bil_bytes=$(awk -v b="${bytes[bilinear]}" -v n="${tiles[bilinear]}" 'BEGIN {printf "%.0f", b / n}')
near_bytes=$(awk -v b="${bytes[near]}" -v n="${tiles[near]}" 'BEGIN {printf "%.0f", b / n}')
row() { awk -v name="$1" -v ms="$2" -v b="$3" -v nm="$near_ms" -v bb="$bil_bytes" \
  'BEGIN {printf "| %s | %.2f | %.0f | %.2f | %.2f |\n", name, ms, b, ms / nm, b / bb}'; }
row "gdal2tiles -r near" "$near_ms" "$near_bytes"
row "gdal2tiles -r bilinear" "$bil_ms" "$bil_bytes"
row "orvex, relief only" "$relief_ms" "$relief_bytes"
row "orvex, relief and lines" "$whole_ms" "$whole_bytes"
