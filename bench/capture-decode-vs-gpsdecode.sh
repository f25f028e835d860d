#!/usr/bin/env bash
# capture-decode beside gpsdecode (gpsd's decoder, `gpsdecode -j`) on the
# same large capture files, made by repeating the captures in testdata/:
#   NMEA   haicom-305N, bu353s4 and triton400, about 60 MB
#   SiRF   bu303-stillfix, bu303b-nofix and sirfstarv (binary), about 30 MB
# Each program's output goes to /dev/null; the runs alternate (capture-decode,
# gpsdecode, capture-decode, ...) so that both see the same load. Prints each
# run's CPU time (user + system), the medians, the ratio of the medians and
# the spread of the ratio over the run pairs, and each one's peak resident
# memory (with GNU time). With --instructions, also counts both programs'
# instructions with callgrind on the first 3 MB of each file, a figure that
# the machine's load does not move. Skips with a message where gpsdecode is
# missing.
#   bench/capture-decode-vs-gpsdecode.sh [--runs N] [--build DIR] [--instructions]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
runs=3
instructions=0
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --instructions) instructions=1; shift ;;
    *) echo "capture-decode-vs-gpsdecode: unknown option $1" >&2; exit 2 ;;
  esac
done
if ! command -v gpsdecode >/dev/null; then
  echo "capture-decode-vs-gpsdecode: gpsdecode is not installed (apt-get install gpsd-clients); skipped"
  exit 0
fi
program=$build/tools/capture-decode/capture-decode
[ -x "$program" ] || { echo "capture-decode-vs-gpsdecode: build $program first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
logs=$root/testdata/gpsd-logs
for _ in $(seq 2130); do cat "$logs"/haicom-305N.log "$logs"/bu353s4.log "$logs"/triton400.log; done >"$work/nmea.log"
for _ in $(seq 500); do cat "$logs"/bu303-stillfix.log "$logs"/bu303b-nofix.log "$logs"/sirfstarv.log; done >"$work/sirf.log"

# CPU seconds (user + system) of one run, and its peak resident memory in kB
# where GNU time is there to tell it (else "-").
measure() {
  local input=$1; shift
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%U %S %M' -o "$work/time" "$@" <"$input" >/dev/null
    awk '{printf "%.2f %d\n", $1 + $2, $3}' "$work/time"
  else
    local TIMEFORMAT='%U %S'
    { time "$@" <"$input" >/dev/null; } 2>"$work/time"
    awk '{printf "%.2f -\n", $1 + $2}' "$work/time"
  fi
}
# Instructions of one run under callgrind.
count() {
  local input=$1; shift
  valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$@" <"$input" >/dev/null 2>/dev/null
  awk '/^(summary|totals):/ {print $2; exit}' "$work/callgrind.out"
}
median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

for kind in nmea sirf; do
  input=$work/$kind.log
  echo "$kind: $(( $(stat -c %s "$input") / 1000000 )) MB, $runs runs of each, alternating"
  : >"$work/ours"; : >"$work/theirs"; : >"$work/ratios"
  for run in $(seq "$runs"); do
    read -r ours ours_kb <<<"$(measure "$input" "$program" -)"
    read -r theirs theirs_kb <<<"$(measure "$input" gpsdecode -j)"
    echo "$ours" >>"$work/ours"; echo "$theirs" >>"$work/theirs"
    awk -v a="$ours" -v b="$theirs" 'BEGIN {printf "%.3f\n", a / b}' >>"$work/ratios"
    printf '  run %d: capture-decode %5.2f s (%s kB), gpsdecode %5.2f s (%s kB)\n' \
      "$run" "$ours" "$ours_kb" "$theirs" "$theirs_kb"
  done
  ours=$(median <"$work/ours"); theirs=$(median <"$work/theirs")
  low=$(sort -n "$work/ratios" | head -1); high=$(sort -n "$work/ratios" | tail -1)
  awk -v a="$ours" -v b="$theirs" -v lo="$low" -v hi="$high" 'BEGIN {
    printf "  medians: capture-decode %.2f s, gpsdecode %.2f s; ratio %.2f (runs %.2f..%.2f); %.1f times as fast\n",
           a, b, a / b, lo, hi, b / a }'
  if [ "$instructions" = 1 ]; then
    if ! command -v valgrind >/dev/null; then
      echo "  instructions: valgrind is not installed; skipped"
      continue
    fi
    head -c 3000000 "$input" >"$work/slice"
    ours=$(count "$work/slice" "$program" -); theirs=$(count "$work/slice" gpsdecode -j)
    awk -v a="$ours" -v b="$theirs" 'BEGIN {
      printf "  instructions on the first 3 MB: capture-decode %.0f (%.1f a byte), gpsdecode %.0f (%.1f a byte); ratio %.3f\n",
             a, a / 3000000, b, b / 3000000, a / b }'
  fi
done
