#!/usr/bin/env bash
# Builds and runs the whole test suite twice: once as built for use, once
# with AddressSanitizer and UndefinedBehaviorSanitizer (any report fails).
# Then the test program alone twice more: built with zlib as the tile codec
# instead of libdeflate, and the threaded cache and grid tests built with
# ThreadSanitizer. Last, every fuzz target runs for ORVEX_FUZZ_SECONDS (12;
# 0 skips them) under ASan and UBSan, leaving the kept corpora as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1; shift
  # A prefix of its own, so that a map installed elsewhere on the machine
  # (the default map, say) cannot change what the tests find.
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX="$PWD/$dir/prefix" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs")
}

# The test program alone, built in its own folder with the given options,
# run on the tests matching a filter.
run_program() {
  local dir=$1 filter=$2; shift 2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX="$PWD/$dir/prefix" \
        -DORVEX_BUILD_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" -j"$jobs" --target orvex_tests
  "$dir/tests/orvex_tests" --gtest_brief=1 --gtest_filter="$filter"
}

echo "== test suite =="
run_suite build/test
echo "== real grids: every sample of maps of the relief grids Debian ships =="
# Debian's own Python, which has numpy; the grids come from ferret-datasets.
/usr/bin/python3 tests/scripts/real_grids.py build/test/src/tools/orvex build/realdata
echo "== test suite with AddressSanitizer and UndefinedBehaviorSanitizer =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  run_suite build/sanitize -DORVEX_SANITIZE=ON -DORVEX_BUILD_BENCH=OFF
echo "== test program with zlib as the tile codec =="
run_program build/test-zlib '*' -DORVEX_CODEC=zlib
echo "== threaded cache and grid tests with ThreadSanitizer =="
TSAN_OPTIONS=halt_on_error=1 \
  run_program build/test-tsan 'TileCache*:CacheStress*:TileCodec*:GridParallel*' -DORVEX_TSAN=ON
fuzz_seconds=${ORVEX_FUZZ_SECONDS:-12}
if [ "$fuzz_seconds" -gt 0 ]; then
  echo "== fuzz targets, $fuzz_seconds s each =="
  FUZZ_KEEP=0 FUZZ_BUILD_JOBS="$jobs" FUZZ_BUILD_DIR=build/fuzz-ci fuzz/run.sh "$fuzz_seconds"
fi
