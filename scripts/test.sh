#!/usr/bin/env bash
# Builds and runs the whole test suite twice: once as built for use (tile
# payloads through libdeflate), once with AddressSanitizer and
# UndefinedBehaviorSanitizer (any report fails) and zlib as the tile codec, so
# each codec meets every test. Then the threaded cache and grid tests alone,
# built with ThreadSanitizer. Last, every fuzz target runs for
# ORVEX_FUZZ_SECONDS (12; 0 skips them) under ASan and UBSan, leaving the kept
# corpora as they are. Debug information is line tables only (-g1): enough for
# every stack trace, and the builds take a good part less time.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

debug_flags=(-DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
             -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG")

run_suite() {
  local dir=$1; shift
  # A prefix of its own, so that a map installed elsewhere on the machine
  # (the default map, say) cannot change what the tests find.
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${debug_flags[@]}" \
        -DCMAKE_INSTALL_PREFIX="$PWD/$dir/prefix" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs")
}

# One test program, built in its own folder with the given options, run whole.
run_program() {
  local dir=$1 target=$2; shift 2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${debug_flags[@]}" \
        -DCMAKE_INSTALL_PREFIX="$PWD/$dir/prefix" -DORVEX_BUILD_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" -j"$jobs" --target "$target"
  "$dir/tests/$target" --gtest_brief=1
}

echo "== test suite =="
run_suite build/test
echo "== real grids: every sample of maps of the relief grids Debian ships =="
# Debian's own Python, which has numpy; the grids come from ferret-datasets.
/usr/bin/python3 tests/scripts/real_grids.py build/test/src/tools/orvex build/realdata
echo "== test suite with AddressSanitizer and UndefinedBehaviorSanitizer, zlib as the tile codec =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  run_suite build/sanitize -DORVEX_SANITIZE=ON -DORVEX_CODEC=zlib -DORVEX_BUILD_BENCH=OFF
echo "== threaded cache and grid tests with ThreadSanitizer =="
TSAN_OPTIONS=halt_on_error=1 \
  run_program build/test-tsan orvex_thread_tests -DORVEX_TSAN=ON
fuzz_seconds=${ORVEX_FUZZ_SECONDS:-12}
if [ "$fuzz_seconds" -gt 0 ]; then
  echo "== fuzz targets, $fuzz_seconds s each =="
  FUZZ_KEEP=0 FUZZ_BUILD_JOBS="$jobs" FUZZ_BUILD_DIR=build/fuzz-ci fuzz/run.sh "$fuzz_seconds"
fi
