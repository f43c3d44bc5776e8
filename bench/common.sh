# What the benchmark scripts share; they source it.

# The harness version that each family's generated run is parsed as.
declare -A versions=([claude]=2.1.217 [codex]=0.155.0 [cursor]=1.7.0 [opencode]=1.17.3 [pi]=0.73.1 [omp]=15.11.0
  [gemini]=0.61.0)

# median_of [DIGITS]: the median of the numbers on standard input, printed
# with DIGITS decimals (4 unless given).
median_of() {
  sort -g | awk -v d="${1:-4}" '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf("%." d "f", m)}'
}

# wall_median K DIGITS COMMAND...: the median wall seconds of K runs of the
# command, its output discarded.
wall_median() {
  local k=$1 digits=$2 s e
  shift 2
  for _ in $(seq "$k"); do
    s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N)
    echo "$e - $s" | bc -l
  done | median_of "$digits"
}

# peak_kb COMMAND...: the peak resident memory of one run of the command, in
# KB, its output discarded.
peak_kb() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ {gsub(/ /,"",$2); print $2}'; }
