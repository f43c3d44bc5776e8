#!/usr/bin/env bash
# What `--usage` costs: user+system CPU time of tracelens with and without it
# on the same large run, over alternating repetitions (CPU time rather than
# wall time, so that a busy machine matters less).
#
#   bench/bench_usage.sh --run DIR --harness F [--runs K] [--build DIR]
#
# Prints each repetition and the medians of user+sys seconds, and the ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
run="" harness="" runs=7 build=build
while [ $# -gt 0 ]; do
  case $1 in
    --run) run=$2; shift 2 ;;
    --harness) harness=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
source bench/common.sh
version=${versions[$harness]}
bin=$build/bin/tracelens
cpu() {  # user+sys seconds of one run
  /usr/bin/time -f '%U %S' "$bin" parse-run --input "$run" --harness "$harness" --version "$version" "$@" \
    2>&1 >/dev/null | awk '{print $1 + $2}'
}
plain=() usage=()
for _ in $(seq "$runs"); do
  plain+=("$(cpu)")
  usage+=("$(cpu --usage)")
done
median() { printf '%s\n' "$@" | median_of 3; }
p=$(median "${plain[@]}") u=$(median "${usage[@]}")
echo "$harness: without ${plain[*]}"
echo "$harness: with    ${usage[*]}"
awk -v p="$p" -v u="$u" -v h="$harness" 'BEGIN {printf "%s: median user+sys %.3f s without, %.3f s with --usage: %+.1f%%\n", h, p, u, (u / p - 1) * 100}'
