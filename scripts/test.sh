#!/usr/bin/env bash
# Builds and runs the whole test suite twice: once as built for use, once
# with AddressSanitizer and UndefinedBehaviorSanitizer (any report fails).
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

echo "== test suite =="
run_suite build/test
echo "== real grids: every sample of maps of the relief grids Debian ships =="
# Debian's own Python, which has numpy; the grids come from ferret-datasets.
/usr/bin/python3 tests/scripts/real_grids.py build/test/src/tools/orvex build/realdata
echo "== test suite with AddressSanitizer and UndefinedBehaviorSanitizer =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  run_suite build/sanitize -DORVEX_SANITIZE=ON -DORVEX_BUILD_BENCH=OFF
