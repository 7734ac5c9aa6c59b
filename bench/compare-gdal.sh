#!/usr/bin/env bash
# orvex and GDAL side by side on the same raw elevation grid: a tiled,
# deflated five-level pyramid built by each, then both read benchmarks
# (every tile of the finest level; warm random point look-ups). Prints a
# markdown table of wall times, peak memory, output sizes and ratios.
# bench/README.md tells what each side does and what the figures mean.
#
# Usage: bench/compare-gdal.sh [--scale S] [--runs N] [--threads "1 2"] [--salt N]
#        [--lookups N] [--build DIR] [--work DIR] [--out FILE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

scale=1 runs=2 threads="1 2" salt=1 lookups=1000000 build="" work="" out=""
usage() {
  cat <<'EOF'
Usage: bench/compare-gdal.sh [OPTIONS]
  --scale S       grid size as a share of 21600 x 10800 (default 1; 0.25 for short runs)
  --runs N        runs of each job, interleaved; the best counts (default 2)
  --threads LIST  thread counts to run (default "1 2")
  --salt N        the grid's salt (default 1)
  --lookups N     random point look-ups per run (default 1000000)
  --build DIR     use the programs of this build of the project as they are
                  (default: build build/bench in Release)
  --work DIR      where the grid and the outputs go (default build/bench/compare)
  --out FILE      write the results table to FILE too
EOF
}
while [ $# -gt 0 ]; do
  case $1 in
    --scale) scale=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --threads) threads=$2; shift 2 ;;
    --salt) salt=$2; shift 2 ;;
    --lookups) lookups=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "compare-gdal.sh: unknown argument $1" >&2; usage >&2; exit 2 ;;
  esac
done
case $runs in ''|*[!0-9]*|0) echo "compare-gdal.sh: --runs wants a whole number above 0" >&2; exit 2 ;; esac

say() { echo "compare-gdal.sh: $*" >&2; }

# gdal-bin for the pipeline, libgdal-dev for GDAL's read benchmark.
install_gdal() {
  local missing=()
  command -v gdal_translate >/dev/null && command -v gdaladdo >/dev/null || missing+=(gdal-bin)
  [ -f /usr/include/gdal/gdal.h ] || missing+=(libgdal-dev)
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  say "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

build_tools() {
  local jobs program
  if [ -z "$build" ]; then
    build=$root/build/bench
    jobs=$(nproc); [ "$jobs" -gt 2 ] && jobs=2
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVEX_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j"$jobs" --target orvex_command compare_grid compare_run \
          compare_read_orvex compare_read_gdal >/dev/null
  fi
  build=$(cd "$build" && pwd)
  for program in src/tools/orvex bench/compare_grid bench/compare_run bench/compare_read_orvex \
                 bench/compare_read_gdal; do
    [ -x "$build/$program" ] && continue
    say "$build/$program is missing: build it there (GDAL's reader needs libgdal-dev at configure time)"
    exit 1
  done
  orvex=$build/src/tools/orvex
  run=$build/bench/compare_run
}

# The grid: nlat a whole number of every level's tiles (80 rows), twice as
# many columns, the whole Earth. Made once per size and salt.
make_grid() {
  nlat=$(awk -v s="$scale" 'BEGIN { n = int(135 * s + 0.5); print 80 * (n < 1 ? 1 : n) }')
  nlon=$((2 * nlat))
  grid=$work/grid-${nlat}x${nlon}-salt$salt.dem
  bil=${grid%.dem}.bil
  if [ ! -s "$grid.info" ]; then
    say "making the ${nlat} x ${nlon} grid"
    "$build/bench/compare_grid" "$grid" "$nlat" "$nlon" "$salt" >"$grid.info.new"
    mv "$grid.info.new" "$grid.info"
  fi
  cat "$grid" >/dev/null   # both sides start from a source in the page cache
}

gdal_threads() { if [ "$1" -eq 1 ]; then echo 1; elif [ "$1" -eq "$(nproc)" ]; then echo ALL_CPUS; else echo "$1"; fi; }

# field FILE KEY: the value of KEY=... in a measurer's or benchmark's line.
field() { tr ' ' '\n' <"$1" | sed -n "s/^$2=//p"; }
declare -A best=()
keep_min() { if [ -z "${best[$1]:-}" ] || awk -v a="$2" -v b="${best[$1]}" 'BEGIN { exit !(a < b) }'; then best[$1]=$2; fi; }
keep_max() { if [ -z "${best[$1]:-}" ] || awk -v a="$2" -v b="${best[$1]}" 'BEGIN { exit !(a > b) }'; then best[$1]=$2; fi; }

# Keeps a pipeline run's figures: time summed over its commands, memory at
# its largest.
record_pipeline() {
  local key=$1; shift
  local s=0 anon=0 file=0 total=0 f
  for f in "$@"; do
    s=$(awk -v a="$s" -v b="$(field "$f" seconds)" 'BEGIN { print a + b }')
    anon=$(( $(field "$f" anon_kb) > anon ? $(field "$f" anon_kb) : anon ))
    file=$(( $(field "$f" file_kb) > file ? $(field "$f" file_kb) : file ))
    total=$(( $(field "$f" total_kb) > total ? $(field "$f" total_kb) : total ))
  done
  keep_min "$key,seconds" "$s"
  keep_max "$key,anon" "$anon"; keep_max "$key,file" "$file"; keep_max "$key,total" "$total"
}

run_gdal() {
  local t=$1 g tif=$work/gdal.tif
  g=$(gdal_threads "$t")
  rm -f "$tif"
  GDAL_NUM_THREADS=$g "$run" "$work/gdal.translate" gdal_translate -q -of GTiff -co TILED=YES \
    -co BLOCKXSIZE=256 -co BLOCKYSIZE=256 -co COMPRESS=DEFLATE -co ZLEVEL=6 -co NUM_THREADS="$g" "$bil" "$tif"
  GDAL_NUM_THREADS=$g "$run" "$work/gdal.addo" gdaladdo -q -r average "$tif" 2 4 8 16
  record_pipeline "gdal,$t" "$work/gdal.translate" "$work/gdal.addo"
  keep_min "gdal,$t,translate" "$(field "$work/gdal.translate" seconds)"
  keep_min "gdal,$t,addo" "$(field "$work/gdal.addo" seconds)"
  best[gdal,size]=$(stat -c %s "$tif")
}

run_orvex() {
  local t=$1 orx=$work/orvex.orx
  local levels=(--grid "$grid" --dec 1 --tiles 20x40 --grid "$grid" --dec 2 --tiles 20x40
                --grid "$grid" --dec 4 --tiles 10x20 --grid "$grid" --dec 8 --tiles 5x10
                --grid "$grid" --dec 16 --tiles 5x5)
  ORVEX_THREADS=$t "$run" "$work/orvex.build" "$orvex" build "$orx" "${levels[@]}" --quiet --overwrite
  record_pipeline "orvex,$t" "$work/orvex.build"
  best[orvex,size]=$(stat -c %s "$orx")
}

# read_bench SIDE PROGRAM FILE MODE THREADS: best rate, and the checksum
# both sides must agree on.
declare -A checksum=()
read_bench() {
  local side=$1 program=$2 file=$3 mode=$4 t=$5
  "$program" "$file" "$mode" "$t" "$lookups" "$salt" >"$work/$side.read"
  keep_max "$side,$mode,$t" "$(field "$work/$side.read" rate)"
  checksum[$side,$mode]=$(field "$work/$side.read" checksum)
}

run_all() {
  local r t mode
  for r in $(seq "$runs"); do
    for t in $threads; do
      say "run $r of $runs, $t thread(s): pyramids"
      run_gdal "$t"
      run_orvex "$t"
    done
  done
  for r in $(seq "$runs"); do
    for t in $threads; do
      say "run $r of $runs, $t thread(s): reading"
      for mode in tiles lookups; do
        read_bench gdal "$build/bench/compare_read_gdal" "$work/gdal.tif" "$mode" "$t"
        read_bench orvex "$build/bench/compare_read_orvex" "$work/orvex.orx" "$mode" "$t"
      done
    done
  done
}

mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
# Two decimals, three figures below 0.1 (orvex's anonymous memory is a few
# thousandths of GDAL's).
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { r = (b > 0 ? a / b : 0); printf (r < 0.1 ? "%.3g ×" : "%.2f ×"), r }'; }
threads_of() { if [ "$1" -eq 1 ]; then echo "1 thread"; else echo "$1 threads"; fi; }
memory() { echo "$(mb "${best[$1,anon]}") / $(mb "${best[$1,file]}") / $(mb "${best[$1,total]}") MB"; }

table() {
  local t s n
  echo "## orvex and GDAL side by side"
  echo
  echo "Grid ${nlat} × ${nlon} int16, $(awk -v b="$(stat -c %s "$grid")" 'BEGIN { printf "%.1f", b / 1e6 }') MB, $(cat "$grid.info");"
  echo "best of $runs interleaved runs; $(nproc) processors ($(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)),"
  echo "load average before the runs $load; $(gdalinfo --version | cut -d, -f1); orvex $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')."
  echo "Memory: peak anonymous / peak file-mapped (both sampled every 5 ms) / peak resident (exact)."
  echo
  echo "| job | GDAL | orvex | orvex / GDAL |"
  echo "|---|---|---|---|"
  for t in $threads; do
    n=$(threads_of "$t")
    echo "| pyramid, $n: wall time | ${best[gdal,$t,seconds]} s | ${best[orvex,$t,seconds]} s | $(ratio "${best[gdal,$t,seconds]}" "${best[orvex,$t,seconds]}") speed |"
    echo "| pyramid, $n: memory | $(memory "gdal,$t") | $(memory "orvex,$t") | $(ratio "${best[orvex,$t,anon]}" "${best[gdal,$t,anon]}") anonymous |"
  done
  echo "| output size | $(mb $((best[gdal,size] / 1024))) MB | $(mb $((best[orvex,size] / 1024))) MB | $(ratio "${best[orvex,size]}" "${best[gdal,size]}") |"
  for t in $threads; do
    s=$(awk -v g="${best[gdal,tiles,$t]}" -v o="${best[orvex,tiles,$t]}" 'BEGIN { printf "%.0f MB/s | %.0f MB/s", g, o }')
    echo "| reading every tile of the finest level, $(threads_of "$t") | $s | $(ratio "${best[orvex,tiles,$t]}" "${best[gdal,tiles,$t]}") speed |"
  done
  for t in $threads; do
    s=$(awk -v g="${best[gdal,lookups,$t]}" -v o="${best[orvex,lookups,$t]}" 'BEGIN { printf "%.2f M/s | %.2f M/s", g / 1e6, o / 1e6 }')
    echo "| $lookups warm random look-ups, $(threads_of "$t") | $s | $(ratio "${best[orvex,lookups,$t]}" "${best[gdal,lookups,$t]}") speed |"
  done
  echo
  for t in $threads; do
    echo "GDAL's pyramid, $(threads_of "$t"): gdal_translate ${best[gdal,$t,translate]} s, gdaladdo ${best[gdal,$t,addo]} s (each its best)."
  done
}

check_same_samples() {
  local mode
  for mode in tiles lookups; do
    if [ "${checksum[gdal,$mode]}" != "${checksum[orvex,$mode]}" ]; then
      say "WARNING: the $mode benchmarks read different samples (sums ${checksum[gdal,$mode]} and ${checksum[orvex,$mode]})"
    fi
  done
}

install_gdal
build_tools
work=${work:-$root/build/bench/compare}
mkdir -p "$work"
work=$(cd "$work" && pwd)   # the library takes a bare name for a map in its data folders
make_grid
load=$(cut -d' ' -f1-3 /proc/loadavg)
run_all
check_same_samples
if [ -n "$out" ]; then table | tee "$out"; else table; fi
