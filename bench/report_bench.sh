#!/usr/bin/env bash
# Benchmark of tracelens-report and of its page on a large run.
#
#   bench/report_bench.sh [--harness F] [--mb N] [--seed S] [--runs K] [--build DIR] [--report BIN] [--word W]
#
# Writes the run with make_run.py (cached under /tmp/tracelens-bench; the
# default, claude at 140 MB, gives more than 20,000 messages and 20,000 tool
# calls), prints its document with tracelens, times K runs of tracelens-report
# on it (medians of wall and CPU time, peak memory), then opens the page in headless Chromium and
# prints the browser's own timings of the first render, the filter, "Expand
# all" and scrolling (bench/report_render.py).
set -euo pipefail
cd "$(dirname "$0")/.."
harness=claude mb=140 runs=5 build=build word=error seed= report=
while [ $# -gt 0 ]; do
  case $1 in
    --harness) harness=$2; shift 2 ;;
    --mb) mb=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --report) report=$2; shift 2 ;;
    --word) word=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
source bench/common.sh
version=${versions[$harness]}
make_run=${MAKE_RUN:-../shared/bench/make_run.py}
[ -f "$make_run" ] || { echo "make_run.py not found at $make_run (set MAKE_RUN)" >&2; exit 2; }
for p in /usr/bin/time /usr/bin/chromium /usr/bin/chromedriver; do
  [ -x "$p" ] || { echo "$p is missing (scripts/setup.sh installs it)" >&2; exit 2; }
done

report=${report:-$build/bin/tracelens-report}
run=/tmp/tracelens-bench/$harness-$mb${seed:+-seed$seed}
if [ ! -f "$run/metadata.json" ]; then
  mkdir -p "$run"
  python3 "$make_run" --harness "$harness" --mb "$mb" ${seed:+--seed "$seed"} --out "$run" >/dev/null
fi
out=/tmp/tracelens-bench/report-$harness-$mb${seed:+-seed$seed}
mkdir -p "$out"
"$build/bin/tracelens" parse-run --input "$run" --harness "$harness" --version "$version" >"$out/doc.json"
python3 - "$out/doc.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))["state"]
n = {k: len(v) for k, v in s.items() if isinstance(v, list)}
print("document: " + ", ".join(f"{v} {k}" for k, v in n.items()))
if n["messages"] < 20000 or n["toolCalls"] < 20000:
    print("note: fewer than 20,000 messages or tool calls; raise --mb")
PY

# wall seconds, CPU seconds (user + system) and peak kilobytes of each run
stats=()
for _ in $(seq "$runs"); do
  stats+=("$(/usr/bin/time -f '%e %U %S %M' "$report" "$out/doc.json" 2>&1 >"$out/page.html" | tail -n 1)")
done
median() { median_of 3; }
wall=$(printf '%s\n' "${stats[@]}" | awk '{print $1}' | median)
cpu=$(printf '%s\n' "${stats[@]}" | awk '{print $2 + $3}' | median)
peak=$(printf '%s\n' "${stats[@]}" | awk '{if ($4 > m) m = $4} END {printf "%.1f", m / 1024}')
printf 'tracelens-report: %s s wall, %s s CPU (medians of %d), peak %s MB; document %d bytes, page %d bytes\n' \
  "$wall" "$cpu" "$runs" "$peak" "$(stat -c %s "$out/doc.json")" "$(stat -c %s "$out/page.html")"
/usr/bin/python3 bench/report_render.py "$out/page.html" "$word"
