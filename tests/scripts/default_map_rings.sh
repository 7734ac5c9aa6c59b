#!/bin/sh
# The default map's shorelines from Debian's GSHHG files, checked end to
# end: the rings rebuilt from GMT's binned pieces against GMT itself
# (check_gshhg_rings.py), then built into a map with filled resolutions,
# whose rings must not cross themselves after the purge.
#
#   default_map_rings.sh SOURCE_DIR ORVEX ORVEX_TESTS OUT_DIR
#
# Exits 77 (skipped) when GMT, gmt-gshhg-low or python3-netcdf4 is missing.
set -e
src=$1 orvex=$2 tests=$3 out=$4
mkdir -p "$out"
rc=0
/usr/bin/python3 "$src/tests/scripts/check_gshhg_rings.py" "$src/scripts/default-map/gshhg_binned.py" \
  /usr/share/gmt-gshhg "$out" c l i || rc=$?
[ "$rc" -eq 0 ] || exit "$rc"
cd "$out"
"$orvex" build rings.orx --overwrite --quiet \
  --vector shore-c.gshhs --fill --name shore-c \
  --vector shore-l.gshhs --fill --name shore-l \
  --vector shore-i.gshhs --fill --name shore-i > build.log
ORVEX_RINGS_MAP="$out/rings.orx" "$tests" --gtest_filter='DefaultMapRings.*'
