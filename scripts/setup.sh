#!/usr/bin/env bash
# Installs the packages, builds and installs liborvex under out/, and runs
# the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$top/out" \
      -DORVEX_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j"$jobs"
cmake --install build/release >/dev/null
export LD_LIBRARY_PATH="$top/out/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

# The main job: a program outside the tree, built against the installed
# library, lists the resolutions of a small map file and reads a sample.
cmake -S examples -B build/examples -DCMAKE_PREFIX_PATH="$top/out" >/dev/null
cmake --build build/examples >/dev/null
build/examples/orvex_lookup 0 0 tests/data/tiny.orx
