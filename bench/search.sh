#!/usr/bin/env bash
# The editor's multi-file search (build/bench/search_files) against
# rg -F -c and grep -rFc on /usr/include: warm cache, the three commands run
# in turn, 15 rounds, medians of wall time, processor time (user + system,
# all threads) and peak memory. Usage:
# bench/search.sh [BUILD_DIR] [TEXT] [DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
text=${2:-include}
dir=${3:-/usr/include}
search="$build/bench/search_files"
[ -x "$search" ] || { echo "build $search first" >&2; exit 1; }
command -v rg >/dev/null || { echo "rg is missing: scripts/install-deps.sh installs ripgrep" >&2; exit 1; }
/usr/bin/python3 - "$search" "$text" "$dir" <<'PY'
import os, resource, statistics, subprocess, sys, time
search, text, root = sys.argv[1:4]
commands = {
    "search_files": [search, "--count", text, root],
    "rg": ["rg", "-F", "-c", "--no-ignore", "--hidden", text, root],
    "grep": ["grep", "-rFc", text, root],
}
def run(argv):
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        fd = os.open(os.devnull, os.O_WRONLY)
        os.dup2(fd, 1); os.dup2(fd, 2)
        os.execvp(argv[0], argv)
    _, status, usage = os.wait4(pid, 0)
    return time.perf_counter() - start, usage.ru_maxrss, usage.ru_utime + usage.ru_stime
for argv in commands.values():  # warm the cache
    run(argv)
times = {k: [] for k in commands}
memory = {k: [] for k in commands}
cpu = {k: [] for k in commands}
for _ in range(15):
    for name, argv in commands.items():
        t, rss, c = run(argv)
        times[name].append(t); memory[name].append(rss); cpu[name].append(c)
print(f"search for '{text}' in {root}, 15 alternating rounds, medians")
base = statistics.median(times["rg"])
for name in commands:
    m = statistics.median(times[name])
    print(f"  {name:13s} {m * 1000:8.1f} ms  ({m / base:4.2f} x rg)  processor {statistics.median(cpu[name]) * 1000:7.1f} ms"
          f"  peak RSS {statistics.median(memory[name]) / 1024:6.1f} MiB")
total = subprocess.run([search, "--count", text, root], capture_output=True, text=True).stdout.strip()
print(f"  search_files found {total} matches")
PY
