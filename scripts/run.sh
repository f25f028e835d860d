#!/usr/bin/env bash
# The main job: the receiver link and status on the simulated receiver, or
# on a real receiver.
#   scripts/run.sh                        simulated receiver, until Ctrl-C
#   scripts/run.sh --device /dev/ttyUSB0  a real receiver on a serial port
#   scripts/run.sh --seconds 20           stop after 20 seconds
# Other options are passed to the receiver simulator (see
# build/tools/receiver-sim/receiver-sim --help), e.g. --scenario NAME.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
device=""
seconds=0
sim_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --device) device=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    *) sim_args+=("$1"); shift ;;
  esac
done

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target receiver-sim link-monitor >/dev/null

# The simulated handheld of this run.
export HANDHELD_DEVICE=${HANDHELD_DEVICE:-$build/handheld}
mkdir -p "$HANDHELD_DEVICE"

sim_pid=""
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null || true; }
trap cleanup EXIT INT TERM

if [ -z "$device" ]; then
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  "$build/tools/receiver-sim/receiver-sim" "${sim_args[@]}" >"$fifo" &
  sim_pid=$!
  exec 3<"$fifo"
  rm -f "$fifo"
  read -r device <&3
  echo "Simulated receiver on $device"
fi

monitor_args=(--device "$device")
[ "$seconds" != 0 ] && monitor_args+=(--seconds "$seconds")
"$build/tools/link-monitor/link-monitor" "${monitor_args[@]}"
