#!/usr/bin/env bash
# The terminal under an output flood (see bench/terminal_flood.cpp). Usage: bench/terminal_flood.sh [BUILD_DIR [BYTES]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
[ -x "$build/bench/terminal_flood" ] || { echo "build $build/bench/terminal_flood first" >&2; exit 1; }
command -v script >/dev/null || { echo "script (bsdutils) is missing: it drains the peer's pseudo-terminal" >&2; exit 1; }
"$build/bench/terminal_flood" ${2:-}
