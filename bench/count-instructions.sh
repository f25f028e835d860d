#!/usr/bin/env bash
# Counts the instructions per byte of the receive path with callgrind, with
# no system call in the counted part:
#   decode         ReadSentence and DecodeSentence over the stream
#   whole          each byte through the session's sink lock into
#                  NmeaReader::OnByte, then ReadSentence and DecodeSentence
#   floor          the same framing into plain slots with no lock, same decoding
#   floor-mutexes  that framing under two plain mutexes per byte
#   bench/count-instructions.sh [build-dir] [seconds of stream]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-600}
program=$build/bench/receive-path-count
command -v valgrind >/dev/null || { echo "count-instructions: valgrind is not installed" >&2; exit 1; }
[ -x "$program" ] || { echo "count-instructions: build $program first" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
printf '%-14s %12s %14s %10s\n' part bytes instructions per-byte
for mode in decode whole floor floor-mutexes; do
  bytes=$(valgrind --tool=callgrind --collect-atstart=no --toggle-collect='Count*' \
            --callgrind-out-file="$out/$mode.out" "$program" "$mode" "$seconds" 2>/dev/null |
          awk '/^bytes/ {print $2}')
  instructions=$(awk '/^(summary|totals):/ {print $2; exit}' "$out/$mode.out")
  awk -v m="$mode" -v b="$bytes" -v i="$instructions" \
    'BEGIN {printf "%-14s %12d %14d %10.1f\n", m, b, i, i / b}'
done
