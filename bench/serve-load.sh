#!/usr/bin/env bash
# Load test of `orvex serve` against 127.0.0.1 only, bounded in time:
# 16 clients for 30 s cold, then 30 s warm (bench/serve_load.py).
#   bench/serve-load.sh [ORVEX] [MAP] [-- OPTIONS of serve_load.py]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
orvex=${1:-"$here/../build/dev/src/tools/orvex"}
shift || true
exec /usr/bin/python3 "$here/serve_load.py" "$orvex" "$@"
