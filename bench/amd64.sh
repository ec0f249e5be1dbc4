#!/usr/bin/env bash
# Encoder throughput against GNU as on the same instruction mix, in the
# same run: as assembles 1,000,000 instructions (hyperfine, median), the
# encoder the same mix in-process (Google Benchmark, median).
# Usage: bench/amd64.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work/mix.s" <<'PY'
import sys
mix = """mov rax, qword ptr [rbx+r12*8+0x40]
add rax, rcx
mov qword ptr [rsp+0x18], r9
imul r10, r11, 100
lea rdx, [rbp+rsi*4-8]
cmp r13, 0x1234
sete al
movsd xmm3, qword ptr [rsp+0x20]
addsd xmm3, xmm9
shl r14, 3
"""
open(sys.argv[1], "w").write(".intel_syntax noprefix\n" + mix * 100000)
PY
echo "== encoder (in-process, items_per_second)"
"$build/bench/bench_amd64" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "median"
echo "== GNU as on 1,000,000 instructions of the same mix"
hyperfine --warmup 1 --runs 5 -N --export-json "$work/h.json" "as --64 -o $work/mix.o $work/mix.s" 2>&1 | grep -v '^ *$'
/usr/bin/python3 - "$work/h.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"][0]
print(f"as: median {r['median']*1000:.1f} ms, {1_000_000 / r['median']:,.0f} instructions/s")
PY
