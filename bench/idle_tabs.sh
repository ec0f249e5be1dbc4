#!/usr/bin/env bash
# Processor time of the editor while nothing happens, with 10 file tabs open
# (one shown, nine behind it), under a private Xvfb with openbox. The files
# are opened the way a user does: the first from the command line, the other
# nine through Ctrl+O, the file's name and Enter. Then utime + stime from
# /proc/PID/stat over SECONDS once the editor has settled, beside the same
# count for `sleep` (the peer: a process that does nothing).
# Usage: bench/idle_tabs.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-10}
work=$(mktemp -d)
pid= wm_pid= xvfb_pid=
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; [ -n "$wm_pid" ] && kill $wm_pid 2>/dev/null; [ -n "$xvfb_pid" ] && kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
cp -r "$build/bin/." "$work/"
rm -rf "$work/logs"
# The shipped #syntax block still runs into its time limit, which switches
# the whole layer (and so Ctrl+O) off; while idle #syntax does not run, so
# an empty one measures the same thing.
/usr/bin/python3 - "$work/syntax.8" <<'PY2'
import re, sys
p = sys.argv[1]
s = open(p).read()
open(p, "w").write(re.sub(r"#syntax \{[^}]*\}", "#syntax {\n}", s))
PY2
mkdir "$work/files"
/usr/bin/python3 - "$work/files" <<'PY'
import sys
line = "    if (x == count) { return value[i] + 0x1F; } // comment while && !done\n"
for i in range(10):
    with open("%s/file_%d.c" % (sys.argv[1], i), "w") as f:
        f.write(line * (2000 + 100 * i))
PY
exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
display=
for _ in $(seq 100); do display=$(head -n1 "$work/displayfd" 2>/dev/null || true); [ -n "$display" ] && break; sleep 0.05; done
export DISPLAY=:$display LIBGL_ALWAYS_SOFTWARE=1
openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!

ticks() { awk '{print $14 + $15}' /proc/$1/stat; }
# Waits until the process has used no processor time for half a second.
settle() {
  local previous now
  previous=$(ticks $pid)
  for _ in $(seq 60); do
    sleep 0.5
    now=$(ticks $pid)
    [ "$now" = "$previous" ] && return 0
    previous=$now
  done
}

(cd "$work" && exec "$work/tarno" "$work/files/file_0.c" >/dev/null 2>&1) &
pid=$!
window=
for _ in $(seq 200); do window=$(xdotool search --name '^Tarno' 2>/dev/null | head -n1 || true); [ -n "$window" ] && break; sleep 0.05; done
[ -n "$window" ] || { echo "no editor window"; exit 1; }
settle
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window" 2>/dev/null || true
for i in $(seq 1 9); do
  xdotool key ctrl+o
  settle
  xdotool type --delay 20 "file_$i.c"
  settle
  xdotool key Return
  settle
done
import -window "$window" "$work/idle.png" 2>/dev/null || true
[ -n "${IDLE_SHOT:-}" ] && cp "$work/idle.png" "$IDLE_SHOT"

thread_ticks() { for t in /proc/$pid/task/*; do echo "$(basename $t) $(awk '{print $14 + $15}' $t/stat)"; done; }
thread_ticks > "$work/threads_before"
before=$(ticks $pid)
start_ns=$(date +%s%N)
sleep "$seconds" & peer=$!
peer_before=$(ticks $peer)
peer_after=$peer_before
while kill -0 $peer 2>/dev/null; do peer_after=$(ticks $peer 2>/dev/null || echo $peer_after); sleep 0.2; done
after=$(ticks $pid)
thread_ticks > "$work/threads_after"
elapsed_ms=$(( ($(date +%s%N) - start_ns) / 1000000 ))
echo "== idle for $elapsed_ms ms with 10 file tabs open (clock ticks of $(getconf CLK_TCK) per second)"
echo "  tarno:         $(( after - before )) ticks"
echo "  sleep (peer):  $(( peer_after - peer_before )) ticks"
main_before=$(awk -v p=$pid '$1 == p {print $2}' "$work/threads_before")
main_after=$(awk -v p=$pid '$1 == p {print $2}' "$work/threads_after")
echo "  of which the main thread: $(( main_after - main_before )) ticks (the rest: the file watcher's 100 ms polls)"
