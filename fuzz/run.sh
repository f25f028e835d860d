#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan) in build-fuzz/,
# writes their seed corpora from testdata/ and the tests' byte
# strings, and runs each target in turn.
#   fuzz/run.sh [--runs N] [--seconds S] [--jobs J] [TARGET...]
#     --runs N      stop a target after N executions (default 2000000)
#     --seconds S   ... or after S seconds, whichever comes first (default 1800)
#     --jobs J      run J targets at a time (default 1)
#     TARGET        NmeaReaderFuzz, NmeaFieldFuzz, SirfStreamFuzz,
#                   SirfPayloadFuzz, CaptureDecodeFuzz, RegistryFuzz, PackageFuzz
#                   (default all)
# Corpora grow in build-fuzz/corpus/<target> and are kept between runs; an
# input that breaks a target lands in build-fuzz/artifacts/<target>/ and the
# script fails. Logs: build-fuzz/logs/<target>.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
runs=2000000
seconds=1800
jobs=1
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  targets=(NmeaReaderFuzz NmeaFieldFuzz SirfStreamFuzz SirfPayloadFuzz CaptureDecodeFuzz RegistryFuzz
           CabControlFileFuzz PackageFuzz)
fi

"$root/scripts/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DSANITIZE=fuzzer \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzz-seeds "${targets[@]}"

testdata=$root/testdata
rm -rf "$build/seeds"
"$build/fuzz/fuzz-seeds" "$testdata" "$build/seeds"
mkdir -p "$build/logs"

# Runs one target; prints its executions and coverage and fails on a finding.
run_target() {
  local target=$1
  local log=$build/logs/$target.log
  mkdir -p "$build/corpus/$target" "$build/artifacts/$target" "$build/seeds/$target"
  local status=0
  (cd "$build" && "fuzz/$target" -runs="$runs" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="artifacts/$target/" "corpus/$target" "seeds/$target") >"$log" 2>&1 ||
    status=$?
  local executions edges total
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  edges=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  total=$(sed -n 's/.*Loaded [0-9]* modules *(\([0-9]*\) inline 8-bit counters).*/\1/p' "$log" | head -n 1)
  if [ "$status" -ne 0 ]; then
    echo "$target: FINDING after ${executions:-?} executions (see $log and $build/artifacts/$target/)"
    grep -E 'ERROR|check failed|SUMMARY' "$log" | head -n 5 >&2 || true
    return 1
  fi
  echo "$target: ${executions:-?} executions, ${edges:-?} of ${total:-?} edges covered, no finding"
}

failed=0
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit $failed
