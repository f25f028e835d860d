#!/usr/bin/env bash
# Builds everything and runs every test.
#   scripts/test.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja "$@"
cmake --build "$build"
jobs=$(( $(nproc) * 2 ))
ctest --test-dir "$build" --output-on-failure -j "$jobs"
