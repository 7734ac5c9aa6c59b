#!/usr/bin/env bash
# Load test of `orvex serve` against 127.0.0.1 only, bounded in time:
# 16 clients for 30 s cold, then 30 s warm (bench/serve_load.py).
#   bench/serve-load.sh [ORVEX [MAP]] [--clients N] [--seconds S] [--cache-mb N]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
orvex="$here/../build/dev/src/tools/orvex"
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then orvex=$1; shift; fi
exec /usr/bin/python3 "$here/serve_load.py" "$orvex" "$@"
