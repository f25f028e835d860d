#!/usr/bin/env bash
# The main command: the typical run of the simulated handheld -- the package
# installed, the GPS sleeve inserted, the bus driver loading its serial
# driver, the viewer quelmar on the receiver simulator (or a real receiver).
# Builds what is missing first; every option goes to `handheld` (see
# `scripts/run.sh --help`), e.g.
#   scripts/run.sh                           until the viewer ends or Ctrl-C
#   scripts/run.sh --seconds 20              a bounded run
#   scripts/run.sh --receiver /dev/ttyUSB0   a real receiver
#   scripts/run.sh --headless --screenshot screen.png
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
if [ ! -f "$build/build.ninja" ]; then
  "$root/scripts/install-deps.sh"
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
fi
if ! built=$(cmake --build "$build" --target handheld 2>&1); then
  echo "$built" >&2
  exit 1
fi
exec "$build/tools/handheld/handheld" "$@"
