#!/usr/bin/env bash
# tracelens on runs whose home holds a large OpenCode database: wall time
# (median of K runs) and peak memory against the database's size.
#
#   bench/bench_opencode_db.sh [--mb "5 15 30 60"] [--runs K] [--build DIR]
#
# Writes each run with bench/make_opencode_db.py (cached under
# /tmp/tracelens-bench), about 10% of its sessions only in the write-ahead log.
set -euo pipefail
cd "$(dirname "$0")/.."
sizes="5 15 30 60" runs=5 build=build
while [ $# -gt 0 ]; do
  case $1 in
    --mb) sizes=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
command -v /usr/bin/time >/dev/null || { echo "/usr/bin/time is missing (scripts/setup.sh installs it)" >&2; exit 2; }

source bench/common.sh
median() { wall_median "$runs" 3 "$@"; }

printf '%8s %12s %10s %10s %10s %10s %9s\n' "MB asked" "db bytes" "messages" "calls" "time s" "peak MB" "peak/db"
for mb in $sizes; do
  run=/tmp/tracelens-bench/opencode-db-$mb
  if [ ! -f "$run/metadata.json" ]; then
    rm -rf "$run"
    python3 bench/make_opencode_db.py --mb "$mb" --out "$run" >/dev/null
  fi
  dir=$run/snapshots/after/home/.local/share/opencode
  bytes=$(cat "$dir"/opencode.db* | wc -c)
  cmd=("$build/bin/tracelens" parse-run --input "$run" --harness opencode --version 1.19.5)
  counts=$("${cmd[@]}" | python3 -c 'import json,sys; s=json.load(sys.stdin)["state"]; print(len(s["messages"]), len(s["toolCalls"]))')
  t=$(median "${cmd[@]}")
  kb=$(peak_kb "${cmd[@]}")
  printf '%8s %12d %10s %10s %10s %10.1f %9.2f\n' "$mb" "$bytes" ${counts} "$t" "$(echo "$kb/1024" | bc -l)" \
    "$(echo "$kb*1024/$bytes" | bc -l)"
done
