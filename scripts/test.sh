#!/usr/bin/env bash
# Installs what Tarno needs, builds it twice (normal, and with ASan + UBSan for
# the headless libraries) and runs the whole test suite in both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build"
bash "$root/scripts/build.sh" "$root/build-asan" -DTARNO_SANITIZE=ON -DTARNO_HEADLESS_ONLY=ON -DCMAKE_BUILD_TYPE=Debug
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
(cd "$root/build-asan" && ctest --output-on-failure -j2) || status=1
(cd "$root/build" && ctest --output-on-failure -j2) || status=1
exit $status
