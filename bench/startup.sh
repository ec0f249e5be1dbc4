#!/usr/bin/env bash
# Start-up against gvim, idle processor use and resident memory of the idle
# editor, under a private Xvfb with openbox and Mesa's software OpenGL.
# Usage: bench/startup.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
xvfb_pid= wm_pid=
trap 'kill $wm_pid $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
cp -r "$build/bin/." "$work/"
cc -O2 -o "$work/first_map" "$root/bench/first_map.c" -lX11
exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do display=$(head -n1 "$work/displayfd" 2>/dev/null || true); [ -n "$display" ] && break; sleep 0.05; done
export DISPLAY=:$display LIBGL_ALWAYS_SOFTWARE=1
openbox >/dev/null 2>&1 &
wm_pid=$!
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.05; done

report() {
/usr/bin/python3 - "$1" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
medians = [r["median"] * 1000 for r in results]
for r, m in zip(results, medians):
    print("  %-40s median %7.1f ms  (min %.1f, max %.1f, %d runs)" % (r["command"].replace(sys.argv[1].rsplit("/", 1)[0] + "/", ""), m, r["min"] * 1000, r["max"] * 1000, len(r["times"])))
print("  ratio: %.2f" % (medians[0] / medians[1]))
PY
}

if command -v gvim >/dev/null; then
  echo "== start-up to the first mapped window: tarno against gvim -f -u NONE -U NONE"
  hyperfine --warmup 3 --runs 30 -N --export-json "$work/map.json" \
    "$work/first_map $work/tarno" "$work/first_map gvim -f -u NONE -U NONE" >/dev/null 2>&1
  report "$work/map.json"
else
  echo "== gvim is not installed (Debian package vim-gtk3): no start-up comparison"
fi

echo "== start-up to the first presented frame, and exit (tarno), against xdpyinfo (a bare X client) as a floor"
TARNO_EXIT_AFTER_FIRST_FRAME=1 hyperfine --warmup 2 --runs 15 -N --export-json "$work/frame.json" "$work/tarno" "xdpyinfo" >/dev/null 2>&1
report "$work/frame.json"

echo "== the idle editor, no file open"
"$work/tarno" >/dev/null 2>&1 &
pid=$!
for _ in $(seq 100); do xdotool search --pid $pid >/dev/null 2>&1 && break; sleep 0.05; done
sleep 2
read -r -a before < <(awk '{print $14, $15}' /proc/$pid/stat)
sleep 5
read -r -a after < <(awk '{print $14, $15}' /proc/$pid/stat)
ticks=$(( (after[0] + after[1]) - (before[0] + before[1]) ))
echo "  processor time while idle: $ticks clock ticks of $(getconf CLK_TCK) per second over 5 s"
/usr/bin/python3 - $pid <<'PY'
import sys, re, collections
pid = sys.argv[1]
rollup = {}
for line in open("/proc/%s/smaps_rollup" % pid):
    m = re.match(r"(\w+):\s+(\d+) kB", line)
    if m: rollup[m.group(1)] = int(m.group(2))
print("  resident %.1f MiB (anonymous %.1f, file-backed %.1f; proportional %.1f)" % (
    rollup["Rss"] / 1024, rollup.get("Anonymous", 0) / 1024, (rollup["Rss"] - rollup.get("Anonymous", 0)) / 1024, rollup.get("Pss", 0) / 1024))
# Group smaps by what the mapping is: a library, the heap, or anonymous memory by size.
groups = collections.defaultdict(lambda: [0, 0, 0])
name = size = None
for line in open("/proc/%s/smaps" % pid):
    head = re.match(r"([0-9a-f]+)-([0-9a-f]+) \S+ \S+ \S+ \S+\s*(.*)", line)
    if head:
        start, end, path = int(head.group(1), 16), int(head.group(2), 16), head.group(3).strip()
        size = end - start
        if not path:
            if 176 << 20 <= size < 180 << 20: path = "[start-up block 176 MiB]"
            elif size >= 64 << 20: path = "[anonymous >= 64 MiB]"
            elif size >= 8 << 20: path = "[anonymous 8-64 MiB]"
            else: path = "[anonymous < 8 MiB]"
        name = path.rsplit("/", 1)[-1] if path.startswith("/") else path
        groups[name][1] += size
        groups[name][2] += 1
        continue
    m = re.match(r"Rss:\s+(\d+) kB", line)
    if m and name: groups[name][0] += int(m.group(1))
print("  %-34s %9s %11s %5s" % ("mapping", "resident", "virtual", "maps"))
for name, (rss, virt, n) in sorted(groups.items(), key=lambda kv: -kv[1][0])[:16]:
    print("  %-34s %6.1f MiB %7.1f MiB %5d" % (name[:34], rss / 1024, virt / 1048576, n))
PY
kill $pid
