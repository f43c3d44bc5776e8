#!/usr/bin/env bash
# Runs bench.sh for every harness family at 5 MB and 60 MB and prints one
# table row per run.
#
#   bench/bench_all.sh [--runs K] [--build DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
printf '%-9s %5s %10s %10s %10s %9s %9s %9s %9s\n' harness MB tracelens floor jq 'x floor' 'x jq' 'peak MB' 'x logs'
for harness in claude codex cursor opencode pi omp gemini; do
  for mb in 5 60; do
    out=$(bench/bench.sh --harness "$harness" --mb "$mb" "$@")
    t_tl=$(awk '/^tracelens/ {print $2}' <<<"$out")
    peak=$(awk '/^tracelens/ {print $5}' <<<"$out")
    t_floor=$(awk '/^floor/ {print $2}' <<<"$out")
    t_jq=$(awk '/^jq/ {print $4}' <<<"$out")
    read -r r_floor r_jq r_mem < <(awk '/^ratio/ {print $3, $8, $13}' <<<"$out")
    printf '%-9s %5s %9ss %9ss %9ss %9s %9s %9s %9s\n' "$harness" "$mb" "$t_tl" "$t_floor" "$t_jq" "$r_floor" "$r_jq" "$peak" "$r_mem"
  done
done
