#!/usr/bin/env bash
# Compile speed of the whole chain, source to a loaded image: tarnoc --run
# (front end, bytecode, machine code, the image written, loaded into an
# executable mapping, relocated, #on_load run) on a generated program of
# sub-programs, against tcc -c on the same program in C, in one hyperfine
# run, medians; then the default custom layer (custom.8 with keys.8 and
# syntax.8) compiled and loaded the same way.
# Usage: bench/chain.sh [BUILD_DIR] [SUB_PROGRAMS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
count=${2:-1500}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$root/bench/gen_program.py" "$work" "$count"
printf '#on_load {\n}\n' > "$work/empty.8"
lines=$(wc -l < "$work/main.8")
echo "== generated program: $lines lines of .8, $(wc -l < "$work/main.c") lines of C"
hyperfine -N --warmup 2 --runs 15 --export-json "$work/h.json" \
  "$build/bin/tarnoc --run $work/main.8" "tcc -c $work/main.c -o $work/main.o" \
  "$build/bin/tarnoc --root $build/bin --run $build/bin/custom.8" "$build/bin/tarnoc --run $work/empty.8" >/dev/null 2>&1
/usr/bin/python3 - "$work/h.json" "$lines" <<'PY'
import json, sys
r = [x["median"] * 1000 for x in json.load(open(sys.argv[1]))["results"]]
lines = int(sys.argv[2])
print(f"tarnoc --run (source to loaded image): {r[0]:.1f} ms, {lines / r[0] * 1000:,.0f} lines/s")
print(f"tcc -c:                                {r[1]:.1f} ms, {lines / r[1] * 1000:,.0f} lines/s")
print(f"ratio tarnoc/tcc (median): {r[0] / r[1]:.2f}")
print(f"default custom.8 compiled, loaded and #on_load run: {r[2]:.1f} ms (an empty program: {r[3]:.1f} ms)")
PY
