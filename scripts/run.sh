#!/usr/bin/env bash
# The main job: the viewer Quelmar on the simulated receiver, or on a real
# receiver.
#   scripts/run.sh                        simulated receiver, until the viewer ends
#   scripts/run.sh --device /dev/ttyUSB0  a real receiver on a serial port
#   scripts/run.sh --seconds 20           end the viewer after 20 seconds
#   scripts/run.sh --terminal             status lines in the terminal (link-monitor)
#                                         instead of the viewer's window
#   scripts/run.sh --screenshot FILE      the viewer without a display: once it has
#                                         run for --seconds (default 8), write its
#                                         screen to FILE (PNG) and end it
# The viewer's window appears on $DISPLAY when there is one. Other options
# are passed to the receiver simulator (see
# build/tools/receiver-sim/receiver-sim --help), e.g. --scenario NAME.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
device=""
seconds=0
terminal=0
screenshot=""
sim_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --device) device=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --terminal) terminal=1; shift ;;
    --screenshot) screenshot=$2; shift 2 ;;
    *) sim_args+=("$1"); shift ;;
  esac
done

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target receiver-sim link-monitor quelmar post-message >/dev/null

# The simulated handheld of this run.
export HANDHELD_DEVICE=${HANDHELD_DEVICE:-$build/handheld}
mkdir -p "$HANDHELD_DEVICE"

sim_pid=""
viewer_pid=""
cleanup() {
  [ -n "$viewer_pid" ] && kill "$viewer_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  wait 2>/dev/null || true
}
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

if [ "$terminal" = 1 ]; then
  monitor_args=(--device "$device")
  [ "$seconds" != 0 ] && monitor_args+=(--seconds "$seconds")
  "$build/tools/link-monitor/link-monitor" "${monitor_args[@]}"
  exit
fi

# The receiver's port as the GPS sleeve's COM3:, where the viewer looks.
"$build/tools/link-monitor/link-monitor" --device "$device" --list-only
post="$build/tools/post-message/post-message"
if [ -n "$screenshot" ]; then
  export HANDHELD_HEADLESS=1
  [ "$seconds" = 0 ] && seconds=8
fi
if [ -z "${DISPLAY:-}" ] && [ -z "$screenshot" ]; then
  echo "No display: the viewer runs without a window (see --screenshot and --terminal)"
fi
"$build/viewer/quelmar" &
viewer_pid=$!
if [ "$seconds" = 0 ]; then
  wait "$viewer_pid" || true
  viewer_pid=""
  exit
fi
sleep "$seconds"
[ -n "$screenshot" ] && "$post" --screenshot "$screenshot" && echo "Screenshot in $screenshot"
"$post" QUELMAR WM_COMMAND 40002 || true
wait "$viewer_pid" || true
viewer_pid=""
