#!/usr/bin/env bash
# Front-end throughput on a generated program of 200,000+ lines of
# declarations (folded constants, enums, structs), against tcc -c on the
# equivalent C file in the same run; then a program of sub-program bodies
# compiled through bytecode, against tcc -c on the same program in C, with
# tarnoc's peak memory per source line. Usage: bench/compiler.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
blocks = 17000
t = ["$C0 := 1;"]
c = ["enum { C0 = 1 };"]
for i in range(1, blocks + 1):
    t.append(f"$C{i} := (C{i-1} * 3 + {i} + (7 << 2)) % 1000;")
    t += [f"$E{i}: #enum u16 = {{", "    $A;", "    $B;", "    $K := 10;", "    $D;", "};"]
    t += [f"$S{i}: #struct {{", "    x: u8;", "    y: u32;", "    z: u64;", "};"]
    c.append(f"enum {{ C{i} = (C{i-1} * 3 + {i} + (7 << 2)) % 1000 }};")
    c += [f"enum E{i} {{", f"    E{i}_A,", f"    E{i}_B,", f"    E{i}_K = 10,", f"    E{i}_D", "};"]
    c += [f"struct S{i} {{", "    unsigned char x;", "    unsigned int y;", "    unsigned long long z;", "};"]
open(f"{work}/main.8", "w").write("\n".join(t) + "\n")
open(f"{work}/main.c", "w").write("\n".join(c) + "\n")
PY
lines=$(wc -l < "$work/main.8")
echo "== generated program: $lines lines ($(wc -l < "$work/main.c") lines of C)"

echo "== tokenising alone and the whole --check in-process (Google Benchmark, lines_per_second)"
"$build/bench/bench_compiler" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "median|Benchmark"

echo "== tarnoc --check against tcc -c on the equivalent C"
hyperfine --warmup 1 --runs 10 -N --export-json "$work/h.json" \
  "$build/bin/tarnoc --check $work/main.8" "tcc -c $work/main.c -o $work/main.o" 2>&1 | grep -v '^ *$'
/usr/bin/python3 - "$work/h.json" "$lines" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
lines = int(sys.argv[2])
for r in results:
    print(f"{r['command'].split()[0].split('/')[-1]:>8}: median {r['median']*1000:.1f} ms, {lines / r['median']:,.0f} lines/s")
print(f"ratio tarnoc/tcc (median): {results[0]['median'] / results[1]['median']:.2f}")
PY

echo
echo "== whole programs through bytecode: sub-programs with loops, branches, switches, calls and a struct"
/usr/bin/python3 "$root/bench/gen_program.py" "$work" 1500
lines=$(wc -l < "$work/main.8")
echo "== generated program: $lines lines ($(wc -l < "$work/main.c") lines of C)"
hyperfine --warmup 1 --runs 10 -N --export-json "$work/b.json" \
  "$build/bin/tarnoc $work/main.8" "tcc -c $work/main.c -o $work/main.o" 2>&1 | grep -v '^ *$'
/usr/bin/time -f '%M' -o "$work/rss" "$build/bin/tarnoc" "$work/main.8"
/usr/bin/python3 - "$work/b.json" "$lines" "$(cat "$work/rss")" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
lines, rss_kb = int(sys.argv[2]), int(sys.argv[3])
for r in results:
    print(f"{r['command'].split()[0].split('/')[-1]:>8}: median {r['median']*1000:.1f} ms, {lines / r['median']:,.0f} lines/s")
print(f"ratio tarnoc/tcc (median): {results[0]['median'] / results[1]['median']:.2f}")
print(f"tarnoc peak memory: {rss_kb:,} KiB, {rss_kb * 1024 / lines:,.0f} bytes per source line")
PY
