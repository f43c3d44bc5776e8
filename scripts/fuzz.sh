#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for the given number of seconds
# (default 45), seeded with the end-to-end runs' files.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-45}; shift || true
jobs=$(nproc 2>/dev/null || echo 2)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRACELENS_FUZZ=ON \
  -DTRACELENS_TESTS=OFF -DTRACELENS_DESKHAND=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=($(sed -n 's/^foreach(target \(.*\))$/\1/p' fuzz/CMakeLists.txt))
cmake --build build-fuzz -j"$jobs" --target "${targets[@]}" >/dev/null
for t in "${targets[@]}"; do
  corpus=build-fuzz/corpus-$t
  mkdir -p "$corpus"
  [ -n "$(ls -A "$corpus")" ] || python3 fuzz/make_seeds.py "$t" "$corpus" >/dev/null
  echo "fuzzing $t for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1 build-fuzz/bin/$t "$corpus" -max_total_time="$seconds" -max_len=65536 \
    -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build-fuzz/ 2>&1 | tail -n 14
done
