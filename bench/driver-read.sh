#!/usr/bin/env bash
# Reading a whole grid resolution through the GDAL driver of map files,
# beside reading the same tiles through the library and beside reading
# `orvex export`'s Cloud-Optimized GeoTIFF of it:
#   1. every tile through the library (compare_read_orvex: getTileGrid),
#   2. every block through GDAL and the driver (compare_read_gdal on the
#      subdataset: GDALReadBlock), the same samples (the checksums agree),
#   3. gdal_translate of the subdataset to /vsimem/ (GTiff, as GDAL's
#      programs read it),
#   4. gdal_translate of the export's COG to /vsimem/.
# Usage: bench/driver-read.sh [--build DIR] [--map MAP] [--runs N]
# DIR is a build with ORVEX_BUILD_BENCH=ON (default build/bench-driver, made
# in Release when missing); MAP the default map of ORVEX_DATA. The
# resolution read is 0, the finest (the library's reader reads that one).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/bench-driver
map=${ORVEX_DATA:-/usr/local/share/orvex}/maps/orx/default.orx
res=0
runs=5
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --map) map=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--map MAP] [--runs N]" >&2; exit 2 ;;
  esac
done
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVEX_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$build" -j2 --target gdal_ORX compare_read_orvex compare_read_gdal orvex_command >/dev/null
export GDAL_DRIVER_PATH=$PWD/$build/gdalplugins
work=$build/driver-read
mkdir -p "$work"
sub="ORX:\"$map\":$res"
cog=$work/export-$res.tif
[ -f "$cog" ] || "$build/src/tools/orvex" export "$map" --res "$res" "$cog" >/dev/null

echo "## $map, resolution $res: $(gdalinfo "$sub" | grep -m1 'Size is')"
for i in $(seq "$runs"); do
  "$build/bench/compare_read_orvex" "$map" tiles 1 | sed 's/^/library: /'
  "$build/bench/compare_read_gdal" "$sub" tiles 1 | sed 's/^/driver:  /'
done
hyperfine --warmup 1 --runs "$runs" -N \
  "gdal_translate -q $sub /vsimem/out.tif" \
  "gdal_translate -q $cog /vsimem/out.tif"
