#!/usr/bin/env bash
# The terminal under an output flood (see bench/terminal_flood.cpp). Usage: bench/terminal_flood.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
[ -x "$build/bench/terminal_flood" ] || { echo "build $build/bench/terminal_flood first" >&2; exit 1; }
"$build/bench/terminal_flood"
