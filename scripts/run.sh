#!/usr/bin/env bash
# Runs the main job. For now: builds, and prints what exists.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build"
echo "Built. The handheld runner is not there yet."
