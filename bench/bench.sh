#!/usr/bin/env bash
# Whole-process benchmark of tracelens on a large generated run.
#
#   bench/bench.sh [--harness F] [--mb N] [--runs K] [--build DIR]
#
# Writes the run with make_run.py (cached under /tmp/tracelens-bench), then
# times K runs each of tracelens, the floor program (a bare simdjson parse of
# every line of the same session logs) and `jq -c .` over those logs, and
# prints the medians, the peak memory of tracelens and the ratios.
set -euo pipefail
cd "$(dirname "$0")/.."
harness=claude mb=60 runs=5 build=build
while [ $# -gt 0 ]; do
  case $1 in
    --harness) harness=$2; shift 2 ;;
    --mb) mb=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
source bench/common.sh
version=${versions[$harness]}
make_run=${MAKE_RUN:-../shared/bench/make_run.py}
# Gemini chats come from the generator beside this script.
[ "$harness" = gemini ] && make_run=${MAKE_RUN:-bench/make_gemini_run.py}
[ -f "$make_run" ] || { echo "make_run.py not found at $make_run (set MAKE_RUN)" >&2; exit 2; }
for p in jq /usr/bin/time; do command -v "$p" >/dev/null || { echo "$p is missing (scripts/setup.sh installs it)" >&2; exit 2; }; done

run=/tmp/tracelens-bench/$harness-$mb
if [ ! -f "$run/metadata.json" ]; then
  mkdir -p "$run"
  if [ "$harness" = gemini ]; then
    python3 "$make_run" --mb "$mb" --out "$run" >/dev/null
  else
    python3 "$make_run" --harness "$harness" --mb "$mb" --out "$run" >/dev/null
  fi
fi
mapfile -t logs < <(find "$run/snapshots" -type f \( -name '*.jsonl' -o -name '*.json' \) \
  \( -path '*/.claude/projects/*' -o -path '*/.codex/sessions/*' -o -path '*/.cursor/projects/*' \
     -o -path '*/.pi/agent/sessions/*' -o -path '*/.omp/agent/sessions/*' -o -path '*/.local/share/opencode/*' \
     -o -path '*/.gemini/tmp/*/chats/*' \) | sort)
log_bytes=$(cat "${logs[@]}" | wc -c)

median() { wall_median "$runs" 4 "$@"; }

tracelens=(${build}/bin/tracelens parse-run --input "$run" --harness "$harness" --version "$version")
floor=(${build}/bin/tracelens_floor "${logs[@]}")
jq_cmd() { for f in "${logs[@]}"; do jq -c . "$f"; done; }

t_tl=$(median "${tracelens[@]}")
t_floor=$(median "${floor[@]}")
t_jq=$(runs=3 median jq_cmd)
rss_tl=$(peak_kb "${tracelens[@]}")
rss_floor=$(peak_kb "${floor[@]}")

printf 'harness %s, %s MB requested, %d log files, %d log bytes, %d runs (median)\n' "$harness" "$mb" "${#logs[@]}" "$log_bytes" "$runs"
printf 'tracelens   %8.3f s  peak %7.1f MB\n' "$t_tl" "$(echo "$rss_tl/1024" | bc -l)"
printf 'floor       %8.3f s  peak %7.1f MB\n' "$t_floor" "$(echo "$rss_floor/1024" | bc -l)"
printf 'jq -c .     %8.3f s  (median of 3)\n' "$t_jq"
printf 'ratio tracelens/floor %.2f (goal <= 4)   tracelens/jq %.3f (goal < 0.15)   peak/logs %.2f (goal < 3)\n' \
  "$(echo "$t_tl/$t_floor" | bc -l)" "$(echo "$t_tl/$t_jq" | bc -l)" "$(echo "$rss_tl*1024/$log_bytes" | bc -l)"
