#!/usr/bin/env bash
# Builds the fuzz targets (clang: libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each in turn for SECONDS (default 60).
#   fuzz/run.sh [SECONDS] [TARGET...]      TARGET: map_file, gshhs, ... (all by default)
# Inputs that reach new code are merged into fuzz/corpus/TARGET, so the kept
# corpus grows only by what adds coverage; FUZZ_KEEP=0 leaves it untouched
# (the test suite's short runs). Findings are kept as build/fuzz/findings/
# TARGET/crash-* (leak-, timeout-, oom-); the run then fails.
#   fuzz/run.sh --minimise [TARGET...]
# shrinks the kept corpora instead: each becomes its named starting files (the
# real files it began with, always kept) and, of the inputs runs added
# (named by their SHA-1), the fewest that reach all the code they reach.
# FUZZ_BUILD_DIR overrides the build folder (build/fuzz).
set -uo pipefail
cd "$(dirname "$0")/.."

minimise=0
if [ "${1:-}" = --minimise ]; then minimise=1; fi
seconds=${1:-60}
shift || true
build=${FUZZ_BUILD_DIR:-build/fuzz}
keep=${FUZZ_KEEP:-1}
jobs=${FUZZ_BUILD_JOBS:-2}

targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  for source in fuzz/fuzz_*.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name#fuzz_}")
  done
fi
for i in "${!targets[@]}"; do targets[$i]=${targets[$i]#fuzz_}; done

# Options a target needs beyond the common ones.
target_options() {
  case $1 in
    # The scanner reports a few malformed polygons on standard output.
    gshhs) echo "-close_fd_mask=1" ;;
    *) echo "" ;;
  esac
}

CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVEX_BUILD_FUZZ=ON -DORVEX_SANITIZE=ON -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_BENCH=OFF >/dev/null || exit 1
build_targets=()
for t in "${targets[@]}"; do build_targets+=(--target "fuzz_$t"); done
cmake --build "$build" -j"$jobs" "${build_targets[@]}" || exit 1

size_of() { find "$1" -type f -printf '%s\n' | awk '{n += $1} END {print n + 0}'; }

# Merges the added inputs of one corpus into a copy of its named starting files.
minimise_corpus() {
  local t=$1 corpus=fuzz/corpus/$1 work=$build/minimise/$1
  rm -rf "$work"
  mkdir -p "$work/kept" "$work/added"
  for f in "$corpus"/*; do
    if [[ $(basename "$f") =~ ^[0-9a-f]{40}$ ]]; then cp "$f" "$work/added/"; else cp "$f" "$work/kept/"; fi
  done
  local before="$(find "$corpus" -type f | wc -l) files, $(size_of "$corpus") bytes"
  # shellcheck disable=SC2046
  if ! "$build/fuzz/fuzz_$t" -merge=1 $(target_options "$t") "$work/kept" "$work/added" >"$work.log" 2>&1; then
    echo "$t: merge failed, corpus left as it was (log: $work.log)"
    return 1
  fi
  rm -f "$corpus"/*
  cp "$work/kept"/* "$corpus/"
  echo "$t: $before -> $(find "$corpus" -type f | wc -l) files, $(size_of "$corpus") bytes"
}

if [ "$minimise" = 1 ]; then
  failed=0
  for t in "${targets[@]}"; do minimise_corpus "$t" || failed=1; done
  exit "$failed"
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

summary=()
failed=0
for t in "${targets[@]}"; do
  corpus=fuzz/corpus/$t
  scratch=$build/scratch/$t
  findings=$build/findings/$t
  log=$build/logs/$t.log
  rm -rf "$scratch"
  mkdir -p "$corpus" "$scratch" "$findings" "$(dirname "$log")"
  touch "$log.start"
  echo "== fuzz_$t: $seconds s =="
  # New inputs go to the scratch folder (the first one); the kept corpus is read only.
  # shellcheck disable=SC2046
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$findings/" $(target_options "$t") "$scratch" "$corpus" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  ran=$(sed -n 's/^stat::.*//; s/.*Done \([0-9]*\) runs in \([0-9]*\) second.*/\2/p' "$log" | tail -1)
  if [ "$keep" = 1 ]; then
    "$build/fuzz/fuzz_$t" -merge=1 $(target_options "$t") "$corpus" "$scratch" >>"$log" 2>&1
  fi
  files=$(find "$corpus" -type f | wc -l)
  bytes=$(size_of "$corpus")
  found=$(find "$findings" -type f -newer "$log.start" | wc -l)
  if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
    failed=1
    grep -E '^==[0-9]+==ERROR|runtime error|^SUMMARY|ALARM|out-of-memory' "$log" | head -5
    echo "   log: $log"
  fi
  summary+=("$(printf '%-16s %6s s %12s runs  corpus %4d files %8d bytes  findings %d (exit %d)' \
    "$t" "${ran:-?}" "${execs:-?}" "$files" "$bytes" "$found" "$rc")")
done
echo "== fuzz summary =="
printf '%s\n' "${summary[@]}"
exit "$failed"
