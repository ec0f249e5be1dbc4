#!/usr/bin/env bash
# Opening a 1 GB file to its first presented frame against `cat FILE >
# /dev/null` and an empty start-up, plus peak memory against the file size,
# and processor time while idle with a file tab open; under a private Xvfb.
# The file is made in /tmp and removed at exit. Usage: bench/shell_open.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
big=/tmp/tarno_bench_open_$$.c
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$work" "$big"' EXIT
cp -r "$build/bin/." "$work/"
/usr/bin/python3 - "$big" <<'PY'
import sys
line = b"    if (x == count) { return value[i] + 0x1F; } // comment while && !done\n"
block = line * (1 << 14)
with open(sys.argv[1], "wb") as f:
    for _ in range((1 << 30) // len(block)):
        f.write(block)
PY
size=$(stat -c %s "$big")
exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do display=$(head -n1 "$work/displayfd" 2>/dev/null || true); [ -n "$display" ] && break; sleep 0.05; done
export DISPLAY=:$display LIBGL_ALWAYS_SOFTWARE=1

echo "== open a $((size >> 20)) MiB file to the first frame (tarno FILE), against cat FILE > /dev/null, an empty start-up,"
echo "   and dd reading the file in one read into one fresh buffer of its size (what the editor's read does)"
TARNO_EXIT_AFTER_FIRST_FRAME=1 hyperfine --warmup 1 --runs 5 --export-json "$work/times.json" \
  "$work/tarno $big" "cat $big > /dev/null" "$work/tarno" "dd if=$big of=/dev/null bs=$size count=1" >/dev/null 2>&1
/usr/bin/python3 - "$work/times.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
m = [x["median"] * 1000 for x in r]
names = ["tarno FILE", "cat FILE", "tarno (empty)", "dd one read"]
for n, v in zip(names, m): print("  %-14s median %8.1f ms" % (n, v))
print("  tarno FILE / (cat FILE + empty start-up): %.2f" % (m[0] / (m[1] + m[2])))
print("  tarno FILE / (dd one read + empty start-up): %.2f" % (m[0] / (m[3] + m[2])))
PY

echo "== peak memory opening it"
TARNO_EXIT_AFTER_FIRST_FRAME=1 /usr/bin/time -f "%M" -o "$work/rss" "$work/tarno" "$big" >/dev/null 2>&1 || true
rss_kb=$(cat "$work/rss" | tail -1)
/usr/bin/python3 -c "import sys; r=int(sys.argv[1])*1024; s=int(sys.argv[2]); print('  peak RSS %.0f MiB for a %.0f MiB file: %.2f x' % (r/2**20, s/2**20, r/s))" "$rss_kb" "$size"

echo "== processor time while idle for 5 s with a file tab open"
"$work/tarno" "$big" >/dev/null 2>&1 &
pid=$!
sleep 6
read -r -a before < <(awk '{print $14, $15}' /proc/$pid/stat)
sleep 5
read -r -a after < <(awk '{print $14, $15}' /proc/$pid/stat)
echo "  idle: $(( (after[0] + after[1]) - (before[0] + before[1]) )) clock ticks of $(getconf CLK_TCK) per second over 5 s"
kill $pid
