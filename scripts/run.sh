#!/usr/bin/env bash
# Installs what Tarno needs, builds it and starts the editor: scripts/run.sh [file [line]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build"
exec "$root/build/bin/tarno" "$@"
