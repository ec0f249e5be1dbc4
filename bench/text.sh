#!/usr/bin/env bash
# Whole-process timings on one generated file of about 128 MB: the text core
# loading it and counting its lines, against wc -l and cat > /dev/null, all
# in the same hyperfine run. Usage: bench/text.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bench="$build/bench/bench_text"
[ -x "$bench" ] || { echo "build $bench first" >&2; exit 1; }
file=$(mktemp /tmp/tarno-text-XXXXXX.txt)
trap 'rm -f "$file"' EXIT
python3 - "$file" <<'PY'
import sys, random
random.seed(7)
lines = [b"    if (value_count > 10) { result += compute(value_count, 0x1F); }",
         b"// a comment line with some words in it and a \"string\"", b"",
         b"int main(int argc, char **argv) {", b"    return total_size * 1.5e3 - offset_of_line[i];",
         "\t\tx = y->next; /* note */ z = \"été\";".encode(), b"}"]
out, size = [], 0
while size < 128 << 20:
    line = random.choice(lines) + (b"\r\n" if random.random() < 0.06 else b"\n")
    out.append(line); size += len(line)
open(sys.argv[1], "wb").write(b"".join(out))
PY
json=$(mktemp /tmp/tarno-text-XXXXXX.json)
trap 'rm -f "$file" "$json"' EXIT
hyperfine --warmup 3 --runs 20 --export-json "$json" \
  "wc -l '$file'" \
  "cat '$file' > /dev/null" \
  "'$bench' --count-lines '$file'"
# Medians, and each command against wc -l.
python3 - "$json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
wc = results[0]["median"]
for r in results:
    print(f"median {r['median'] * 1000:8.1f} ms  ({r['median'] / wc:4.2f} x wc -l)  {r['command']}")
PY
# The line count alone, inside the process, next to those figures.
TARNO_BENCH_VERBOSE=1 "$bench" --count-lines "$file" >/dev/null
