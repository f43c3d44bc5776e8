#!/usr/bin/env bash
# tracelens against the parsing floor, one row per harness family.
#
#   bench/floor_ratio.sh [--runs K] [--mb N] [--build DIR] [--families "claude codex ..."]
#   bench/floor_ratio.sh --scale [--runs K] [--big-mb N] [--build DIR]
#
# The floor is ../shared/bench/floor.cpp (relative to the repository), built
# here with g++ -O2: it reads every JSON and JSONL file of the run into one
# reused padded buffer and parses each line in place with simdjson's DOM
# parser. For each family the script writes a run of N MB (make_run.py; Gemini
# chats come from bench/make_gemini_run.py), then runs tracelens and the floor
# alternately K times and prints medians: wall time, CPU time (perf stat's
# task-clock when perf may count, else user+system time of /usr/bin/time),
# system time, page faults (perf stat -e page-faults, else the minor faults
# of /usr/bin/time) and peak memory, with the ratios tracelens/floor and
# peak/logs. The machine may be busy: the CPU-time ratio is steadier than the
# wall-time one.
#
# --scale measures tracelens alone on claude and codex runs of N MB and of
# --big-mb (default 1024) MB, the two sizes alternately, and prints the
# seconds per MB of each (wall, CPU, user and system) and their ratios. The
# large runs are written under /tmp and deleted afterwards.
#
# Runs are cached under $BENCH_DIR (default /tmp/tracelens-floor).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=7 mb=60 big_mb=1024 build=build scale=0
families="claude codex cursor opencode pi omp gemini"
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --mb) mb=$2; shift 2 ;;
    --big-mb) big_mb=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --families) families=$2; shift 2 ;;
    --scale) scale=1; shift ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
source bench/common.sh
bench_dir=${BENCH_DIR:-/tmp/tracelens-floor}
make_run=${MAKE_RUN:-../shared/bench/make_run.py}
floor_src=${FLOOR_SRC:-../shared/bench/floor.cpp}
tracelens=$build/bin/tracelens
[ -x "$tracelens" ] || { echo "$tracelens is missing: build the tracelens target first" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (scripts/setup.sh installs it)" >&2; exit 2; }
mkdir -p "$bench_dir"

# The floor, built once per source change.
floor_bin=$bench_dir/floor
if [ "$scale" = 0 ]; then
  if [ ! -f "$floor_src" ]; then
    echo "the parsing floor $floor_src is absent (set FLOOR_SRC to its path); cannot measure against it" >&2
    exit 2
  fi
  if [ ! -x "$floor_bin" ] || [ "$floor_src" -nt "$floor_bin" ]; then
    # shellcheck disable=SC2046
    g++ -std=c++20 -O2 -o "$floor_bin" "$floor_src" $(pkg-config --cflags --libs simdjson 2>/dev/null || echo -lsimdjson)
  fi
fi

use_perf=0
if command -v perf >/dev/null && perf stat -x, -e page-faults -o /dev/null -- true 2>/dev/null; then use_perf=1; fi

# make_run DIR FAMILY MB: writes the run once.
make_run() {
  local dir=$1 family=$2 size=$3
  [ -f "$dir/metadata.json" ] && return
  mkdir -p "$dir"
  if [ "$family" = gemini ]; then
    python3 bench/make_gemini_run.py --mb "$size" --out "$dir" >/dev/null
  else
    [ -f "$make_run" ] || { echo "make_run.py not found at $make_run (set MAKE_RUN)" >&2; exit 2; }
    python3 "$make_run" --harness "$family" --mb "$size" --out "$dir" >/dev/null
  fi
}

# log_bytes DIR: bytes of the run's session logs (the files tracelens reads whole).
log_bytes() {
  find "$1/snapshots" -type f \( -name '*.jsonl' -o -name '*.json' -o -name '*.db' -o -name '*.db-wal' \) \
    \( -path '*/.claude/projects/*' -o -path '*/.codex/sessions/*' -o -path '*/.cursor/projects/*' \
    -o -path '*/.pi/agent/sessions/*' -o -path '*/.omp/agent/sessions/*' -o -path '*/.local/share/opencode/*' \
    -o -path '*/.gemini/tmp/*' \) -printf '%s\n' | awk '{s+=$1} END {print s+0}'
}

# measure OUT CMD...: one run; appends "wall user sys peak_kb faults cpu" to OUT.
measure() {
  local out=$1; shift
  local t=$bench_dir/time.$$ pf=$bench_dir/pf.$$
  if [ "$use_perf" = 1 ]; then
    perf stat -x, -e page-faults,task-clock -o "$pf" -- /usr/bin/time -f '%e %U %S %M %R' -o "$t" "$@" >/dev/null
    local faults cpu
    faults=$(awk -F, '/page-faults/ {print $1}' "$pf")
    cpu=$(awk -F, '/task-clock/ {printf "%.4f", $1 / 1000}' "$pf")
    echo "$(awk '{print $1, $2, $3, $4}' "$t") $faults $cpu" >>"$out"
  else
    /usr/bin/time -f '%e %U %S %M %R' -o "$t" "$@" >/dev/null
    echo "$(cat "$t") $(awk '{print $2 + $3}' "$t")" >>"$out"
  fi
}

# median FILE COLUMN (1 wall, 2 user, 3 sys, 4 peak KB, 5 faults, 6 CPU)
median() { awk -v c="$2" '{print $c}' "$1" | median_of 4; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "-"}'; }

if [ "$scale" = 1 ]; then
  # The two sizes are measured alternately, as the floor is against tracelens
  # below: on a virtual machine the cost of fresh memory drifts over minutes,
  # and a run of one size after the other measures the drift.
  printf 'tracelens seconds per MB of logs, %s MB against %s MB, alternating, median of %s\n' "$mb" "$big_mb" "$runs"
  printf '%-8s %8s %10s %10s %10s %10s %10s %10s %10s\n' family MB 'logs MB' 'wall s' 'cpu s' 'wall s/MB' 'cpu s/MB' \
    'user s/MB' 'sys s/MB'
  for family in claude codex; do
    small=$bench_dir/$family-$mb big=/tmp/tracelens-floor-big/$family-$big_mb
    make_run "$small" "$family" "$mb"
    make_run "$big" "$family" "$big_mb"
    rm -f "$bench_dir/scale-$mb.txt" "$bench_dir/scale-$big_mb.txt"
    for _ in $(seq "$runs"); do
      for size in "$mb" "$big_mb"; do
        dir=$small
        [ "$size" = "$big_mb" ] && dir=$big
        measure "$bench_dir/scale-$size.txt" "$tracelens" parse-run --input "$dir" --harness "$family" \
          --version "${versions[$family]}"
      done
    done
    declare -A per_mb=()
    for size in "$mb" "$big_mb"; do
      dir=$small
      [ "$size" = "$big_mb" ] && dir=$big
      f=$bench_dir/scale-$size.txt
      logs_mb=$(awk -v b="$(log_bytes "$dir")" 'BEGIN {printf "%.1f", b / 1048576}')
      wall=$(median "$f" 1) cpu=$(median "$f" 6) user=$(median "$f" 2) sys=$(median "$f" 3)
      per() { awk -v t="$1" -v m="$logs_mb" 'BEGIN {printf "%.5f", t / m}'; }
      per_mb[$size]="$(per "$wall") $(per "$cpu") $(per "$user") $(per "$sys")"
      # shellcheck disable=SC2086
      printf '%-8s %8s %10s %10s %10s %10s %10s %10s %10s\n' "$family" "$size" "$logs_mb" "$wall" "$cpu" ${per_mb[$size]}
    done
    read -r w_small c_small u_small s_small <<<"${per_mb[$mb]}"
    read -r w_big c_big u_big s_big <<<"${per_mb[$big_mb]}"
    printf '%-8s %s MB / %s MB time per MB: wall %s, cpu %s (goal within 1.10); user %s, sys %s\n' "$family" \
      "$big_mb" "$mb" "$(ratio "$w_big" "$w_small")" "$(ratio "$c_big" "$c_small")" "$(ratio "$u_big" "$u_small")" \
      "$(ratio "$s_big" "$s_small")"
    unset per_mb
    rm -rf "$big"
  done
  rmdir /tmp/tracelens-floor-big 2>/dev/null || true
  exit 0
fi

fault_src="perf stat -e page-faults,task-clock"
[ "$use_perf" = 1 ] || fault_src="/usr/bin/time (minor faults, user+sys)"
printf 'tracelens (tl) against the floor (fl, %s), %s MB runs, medians of %s alternating runs; faults and CPU: %s\n' \
  "$floor_src" "$mb" "$runs" "$fault_src"
printf '%-9s %7s | %7s %7s %6s | %7s %7s %6s | %7s %7s | %7s %7s | %8s %8s | %6s\n' \
  family 'logs MB' 'tl wall' 'fl wall' 'x wall' 'tl cpu' 'fl cpu' 'x cpu' 'tl sys' 'fl sys' \
  'tl flt' 'fl flt' 'tl MB' 'fl MB' 'x logs'
for family in $families; do
  dir=$bench_dir/$family-$mb
  make_run "$dir" "$family" "$mb"
  bytes=$(log_bytes "$dir")
  tl=$bench_dir/tl.txt fl=$bench_dir/fl.txt
  rm -f "$tl" "$fl"
  for _ in $(seq "$runs"); do
    measure "$tl" "$tracelens" parse-run --input "$dir" --harness "$family" --version "${versions[$family]}"
    measure "$fl" "$floor_bin" "$dir"
  done
  tw=$(median "$tl" 1) fw=$(median "$fl" 1) tc=$(median "$tl" 6) fc=$(median "$fl" 6)
  ts=$(median "$tl" 3) fs=$(median "$fl" 3) tf=$(median "$tl" 5) ff=$(median "$fl" 5)
  tm=$(median "$tl" 4) fm=$(median "$fl" 4)
  printf '%-9s %7.1f | %7.3f %7.3f %6s | %7.4f %7.4f %6s | %7.3f %7.3f | %7.0f %7.0f | %8.1f %8.1f | %6s\n' \
    "$family" "$(awk -v b="$bytes" 'BEGIN {print b / 1048576}')" "$tw" "$fw" "$(ratio "$tw" "$fw")" \
    "$tc" "$fc" "$(ratio "$tc" "$fc")" "$ts" "$fs" "$tf" "$ff" \
    "$(awk -v k="$tm" 'BEGIN {print k / 1024}')" "$(awk -v k="$fm" 'BEGIN {print k / 1024}')" \
    "$(awk -v k="$tm" -v b="$bytes" 'BEGIN {printf "%.2f", k * 1024 / b}')"
done
rm -f "$bench_dir/time.$$" "$bench_dir/pf.$$"
