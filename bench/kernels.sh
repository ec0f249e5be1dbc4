#!/usr/bin/env bash
# Run time of compute kernels written in .8 (tarnoc --run: compile, load and
# run) against the same C compiled by tcc, gcc -O0 and gcc -O2, in one
# hyperfine run, medians. The fixed cost of tarnoc --run (compiling the
# support files, loading) is timed on an empty program and shown apart.
# Usage: bench/kernels.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-5}
kernels=(sieve matrix particles mandelbrot)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '#on_load {\n}\n' > "$work/empty.8"
commands=("$build/bin/tarnoc --run $work/empty.8")
for k in "${kernels[@]}"; do
  want=$("$build/bin/tarnoc" --run "$root/bench/kernels/$k.8" | tr -d ,)
  tcc -o "$work/$k.tcc" "$root/bench/kernels/$k.c"
  gcc -O0 -o "$work/$k.O0" "$root/bench/kernels/$k.c"
  gcc -O2 -o "$work/$k.O2" "$root/bench/kernels/$k.c"
  for c in tcc O0 O2; do
    got=$("$work/$k.$c")
    [ "$got" = "$want" ] || { echo "kernels: $k differs: .8 says $want, $c says $got" >&2; exit 1; }
  done
  commands+=("$build/bin/tarnoc --run $root/bench/kernels/$k.8" "$work/$k.tcc" "$work/$k.O0" "$work/$k.O2")
done
hyperfine -N --warmup 1 --runs "$runs" --export-json "$work/h.json" "${commands[@]}" >/dev/null 2>&1
/usr/bin/python3 - "$work/h.json" "${kernels[@]}" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
kernels = sys.argv[2:]
median = [r["median"] * 1000 for r in results]
print(f"tarnoc --run on an empty program: {median[0]:.1f} ms (included in the .8 column)")
print(f"{'kernel':<12}{'.8':>9}{'tcc':>9}{'gcc -O0':>9}{'gcc -O2':>9}   speed against gcc -O2: .8, tcc, gcc -O0")
for i, k in enumerate(kernels):
    t8, tcc, o0, o2 = median[1 + 4 * i: 5 + 4 * i]
    print(f"{k:<12}{t8:>7.0f}ms{tcc:>7.0f}ms{o0:>7.0f}ms{o2:>7.0f}ms   {o2 / t8:.2f}, {o2 / tcc:.2f}, {o2 / o0:.2f}")
PY
