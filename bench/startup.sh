#!/usr/bin/env bash
# Start-up to the first presented frame, and idle processor use, under a
# private Xvfb with Mesa's software OpenGL. Usage: bench/startup.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
cp -r "$build/bin/." "$work/"
exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do display=$(head -n1 "$work/displayfd" 2>/dev/null || true); [ -n "$display" ] && break; sleep 0.05; done
export DISPLAY=:$display LIBGL_ALWAYS_SOFTWARE=1

echo "== start-up to first presented frame, and exit (tarno), against xdpyinfo (a bare X client) as a floor"
TARNO_EXIT_AFTER_FIRST_FRAME=1 hyperfine --warmup 2 --runs 15 -N --export-json "$work/times.json" "$work/tarno" "xdpyinfo" >/dev/null 2>&1
/usr/bin/python3 - "$work/times.json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
medians = [r["median"] * 1000 for r in results]
for r, m in zip(results, medians):
    print("  %-12s median %7.1f ms  (min %.1f, max %.1f, %d runs)" % (r["command"].split("/")[-1], m, r["min"] * 1000, r["max"] * 1000, len(r["times"])))
print("  ratio tarno / xdpyinfo: %.2f" % (medians[0] / medians[1]))
PY

echo "== processor time used while idle for 5 s"
"$work/tarno" >/dev/null 2>&1 &
pid=$!
sleep 2
read -r -a before < <(awk '{print $14, $15}' /proc/$pid/stat)
sleep 5
read -r -a after < <(awk '{print $14, $15}' /proc/$pid/stat)
ticks=$(( (after[0] + after[1]) - (before[0] + before[1]) ))
echo "idle: $ticks clock ticks of $(getconf CLK_TCK) per second over 5 s"
kill $pid
