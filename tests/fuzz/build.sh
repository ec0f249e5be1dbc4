#!/usr/bin/env bash
# Builds the compiler fuzz target (front end, bodies and statements) with Debian's clang (libFuzzer, ASan, UBSan).
# Usage: tests/fuzz/build.sh [OUT_DIR]; then OUT_DIR/fuzz_front_end tests/fuzz/corpus -max_total_time=600
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$root/build-fuzz}
mkdir -p "$out"
core="memory gp_allocator log system_info assets zip strings stb_sprintf_impl meow_hash text_encodings time"
sources=("$root"/src/compiler/front/*.cpp "$root"/src/compiler/back/*.cpp)
for f in $core; do sources+=("$root/src/core/$f.cpp"); done
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -fno-exceptions -fno-rtti -I"$root/src" -DTARNO_RUNTIME_DIR="\"$root/runtime\"" \
  "$root/tests/fuzz/fuzz_front_end.cpp" "${sources[@]}" -lz -lpthread -o "$out/fuzz_front_end"
echo "$out/fuzz_front_end"
