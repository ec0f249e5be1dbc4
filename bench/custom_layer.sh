#!/usr/bin/env bash
# Compiling the default custom layer as a whole command: tarnoc compiling
# custom.8 (with keys.8 and syntax.8) to its image, and compiling, loading and
# running #on_load (--run), against tcc -c on a generated C file of the same
# size in bytes and of the same kind: keyword tables and functions of
# if-chains calling routines. The in-process figures (compile and load, save to new
# layer, keystroke to frame) come from bench_custom_layer.
# Usage: bench/custom_layer.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build"/bin/*.8 "$work/"
layer_lines=$(cat "$work/custom.8" "$work/keys.8" "$work/syntax.8" | wc -l)
layer_bytes=$(cat "$work/custom.8" "$work/keys.8" "$work/syntax.8" | wc -c)

/usr/bin/python3 - "$work/layer.c" "$layer_lines" "$layer_bytes" <<'PY'
import sys
path, lines, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
out = ["typedef unsigned int u32;", "typedef unsigned char u8;",
       "extern void routine(u32 id);", "extern u32 query(u32 id);",
       "static const char *words[] = {"]
out += ['    "word%d", "other%d", "third%d", "fourth%d",' % (i, i, i, i) for i in range(40)]
out.append("};")
f = 0
while sum(len(l) + 1 for l in out) < size:
    out.append("static int handler_%d(u32 code, u8 modifiers) {" % f)
    for k in range(8):
        out.append("    if (code == %d && (modifiers & %d) != 0) { routine(%d); return 1; }" % (k + 65, 1 << (k % 3), k + f))
    out.append("    if (query(%d) > code) { routine(code); }" % f)
    out.append("    return 0;")
    out.append("}")
    f += 1
out.append("int dispatch(u32 code, u8 modifiers) {")
out += ["    if (handler_%d(code, modifiers)) return 1;" % i for i in range(f)]
out.append("    return 0;")
out.append("}")
open(path, "w").write("\n".join(out) + "\n")
PY
echo "== the default layer: $layer_lines lines, $layer_bytes bytes; the C peer: $(wc -l < "$work/layer.c") lines, $(wc -c < "$work/layer.c") bytes"
cd "$work"
hyperfine --warmup 2 --runs 20 -N --export-json "$work/h.json" \
  "$build/bin/tarnoc --root $work -o $work/custom.8b $work/custom.8" \
  "$build/bin/tarnoc --root $work --run $work/custom.8" \
  "tcc -c $work/layer.c -o $work/layer.o" 2>&1 | grep -v '^ *$'
echo "== medians"
/usr/bin/python3 - "$work/h.json" <<'PY'
import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print("%8.1f ms  %s" % (r["median"] * 1000, r["command"].split("/")[-1] if "tcc" in r["command"] else " ".join(r["command"].split()[3:4]) + " custom.8"))
PY
