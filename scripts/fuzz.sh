#!/usr/bin/env bash
# Builds the libFuzzer targets (in the sanitizer build) and runs each for the
# given number of seconds (default 60), seeded with the end-to-end runs' files.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}; shift || true
scripts/sanitize-build.sh >/dev/null
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=($(sed -n 's/^foreach(target \(.*\))$/\1/p' fuzz/CMakeLists.txt))
for t in "${targets[@]}"; do
  corpus=build-asan/corpus-$t
  mkdir -p "$corpus"
  [ -n "$(ls -A "$corpus")" ] || python3 fuzz/make_seeds.py "$t" "$corpus" >/dev/null
  echo "fuzzing $t for ${seconds}s"
  log=build-asan/fuzz-$t.log
  if ! ASAN_OPTIONS=detect_leaks=1 build-asan/bin/$t "$corpus" -max_total_time="$seconds" -max_len=65536 \
      -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build-asan/ >"$log" 2>&1; then
    tail -n 80 "$log"
    echo "fuzz target $t failed; the input is in build-asan/ (crash-*, timeout-*, oom-*)" >&2
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added|stat::peak_rss_mb)' "$log"
done
