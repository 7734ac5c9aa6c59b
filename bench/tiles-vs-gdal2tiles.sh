#!/usr/bin/env bash
# A tile archive of the default map written by `orvex tiles` side by side
# with gdal2tiles on the same relief (coloured and shaded by gdaldem, see
# gdal-relief.sh; that preparation is not counted), both on the same number
# of processes, in one run. Prints wall time, tiles per second, the dedup
# ratio and bytes (the archive against gdal2tiles' folder of PNGs), and
# estimates a world of zoom 0-10 (1,398,101 tiles) on 2 and on 64 cores
# from the CPU time per tile.
#
# Usage: bench/tiles-vs-gdal2tiles.sh [--zoom MAX] [--procs N] [--map FILE] [--build DIR] [--work DIR]
#   --zoom MAX   zooms 0 .. MAX (default 7: 21,845 tiles)
#   --procs N    orvex threads and gdal2tiles processes (default 2)
#   --map FILE   the map (default $ORVEX_DATA/maps/orx/default.orx)
#   --build DIR  a build of the project (default build/dev)
#   --work DIR   where the rasters, tiles and archives go (default build/tiles-bench)
#   --keep-gdal  reuse gdal2tiles' tiles and time of an earlier run of the same zoom
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
keep=0 zoom=7 procs=2 map="${ORVEX_DATA:-/usr/share}/maps/orx/default.orx" build="$root/build/dev" work="$root/build/tiles-bench"
while [ $# -gt 0 ]; do
  case $1 in
    --zoom) zoom=$2; shift 2 ;;
    --procs) procs=$2; shift 2 ;;
    --map) map=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --keep-gdal) keep=1; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
orvex=$build/src/tools/orvex
[ -x "$orvex" ] || { echo "build $build first (target orvex_command)" >&2; exit 2; }
map=$(realpath "$map")
mkdir -p "$work"
cd "$work"
"$root/bench/gdal-relief.sh" "$orvex" "$map"

timed() { # OUT command...: wall, user and system seconds into OUT
  local out=$1; shift
  /usr/bin/time -f "%e %U %S" -o "$out" "$@" > /dev/null 2> "$out.log"
}

if [ "$keep" = 0 ] || [ ! -f "gdal.z$zoom.p$procs.time" ]; then
  rm -rf gdal-near
  timed gdal.time gdal2tiles.py -q --processes="$procs" --xyz -r near -z "0-$zoom" -w none relief.tif gdal-near
  cp gdal.time "gdal.z$zoom.p$procs.time"
fi
rm -f world.pmtiles world.mbtiles
timed orvex.time "$orvex" tiles "$map" world.pmtiles -z "0-$zoom" --threads "$procs"
timed orvex-mb.time "$orvex" tiles "$map" world.mbtiles -z "0-$zoom" --threads "$procs"

g_tiles=$(find gdal-near -name '*.png' | wc -l)
g_bytes=$(find gdal-near -name '*.png' -printf '%s\n' | awk '{s += $1} END {print s}')
g_disk=$(du -sk gdal-near | awk '{print $1 * 1024}')
o_tiles=$(sed -n 's/.*: \([0-9]*\) tiles of zoom.*/\1/p' orvex.time.log)
o_distinct=$(sed -n 's/.*, \([0-9]*\) distinct.*/\1/p' orvex.time.log)
o_bytes=$(stat -c %s world.pmtiles)
m_bytes=$(stat -c %s world.mbtiles)
read -r g_wall g_user g_sys < "gdal.z$zoom.p$procs.time"
read -r o_wall o_user o_sys < orvex.time
read -r m_wall _ _ < orvex-mb.time

printf '\nZoom 0-%s of %s, %s processes each\n\n' "$zoom" "$(basename "$map")" "$procs"
printf '| writer | tiles | wall s | tiles/s | CPU ms/tile | distinct | bytes |\n|---|---|---|---|---|---|---|\n'
awk -v t="$g_tiles" -v w="$g_wall" -v c="$(echo "$g_user $g_sys" | awk '{print $1 + $2}')" -v b="$g_bytes" -v d="$g_disk" \
  'BEGIN {printf "| gdal2tiles -r near (folder of PNGs) | %d | %.1f | %.0f | %.2f | %d | %d (%d on disk) |\n", t, w, t / w, 1000 * c / t, t, b, d}'
awk -v t="$o_tiles" -v w="$o_wall" -v c="$(echo "$o_user $o_sys" | awk '{print $1 + $2}')" -v b="$o_bytes" -v d="$o_distinct" \
  'BEGIN {printf "| orvex tiles (PMTiles) | %d | %.1f | %.0f | %.2f | %d | %d |\n", t, w, t / w, 1000 * c / t, d, b}'
awk -v t="$o_tiles" -v w="$m_wall" -v b="$m_bytes" -v d="$o_distinct" \
  'BEGIN {printf "| orvex tiles (MBTiles) | %d | %.1f | %.0f | | %d | %d |\n", t, w, t / w, d, b}'
printf '\n'
awk -v gw="$g_wall" -v ow="$o_wall" -v gb="$g_disk" -v ob="$o_bytes" -v t="$o_tiles" -v d="$o_distinct" \
  -v c="$(echo "$o_user $o_sys" | awk '{print $1 + $2}')" -v p="$procs" 'BEGIN {
    printf "orvex is %.2fx faster in wall time; the archive is %.2f of the folder on disk; %.3f tiles per stored content\n",
           gw / ow, ob / gb, t / d
    n = 1398101; per = c / t
    printf "zoom 0-10 (%d tiles) at %.2f ms CPU a tile: %.0f min on 2 cores, %.1f min on 64 cores\n",
           n, 1000 * per, n * per / 2 / 60, n * per / 64 / 60 }'
