#!/usr/bin/env bash
# The viewer beside gpsd on the same replayed capture: each one's share of
# one core and its resident memory, read from /proc, and the ratio of the
# two shares.
#   bench/side-by-side.sh [--minutes N] [--capture FILE | --simulate]
#                         [--warm-up SECONDS] [--screenshot FILE] [--build DIR]
#                         [--floor]
# Two receiver simulators replay the capture (default: the Haicom HI-305N
# log, a SiRF receiver's 1 Hz NMEA, over and over) at the line rate, 57600
# baud, where the viewer listens: one pass follows the other, 5760 bytes a
# second, about 21 of the capture's seconds in each second. With --simulate
# they simulate a receiver instead, 1 Hz NMEA (GGA, GSA, GSV, RMC; about 330
# bytes a second). Each is on a pseudo-terminal of its own. On one runs the
# viewer, headless, on its port listed as the GPS sleeve's COM3:; on the
# other gpsd, in the foreground, read-only (-b: it parses and reports,
# sending the receiver nothing), with no hotplug, listening on loopback
# only, with one client watching its JSON reports. Each share is the
# process's time on a CPU (user and system) over the wall time from the end
# of the warm-up to the end (default 10 minutes), counted in nanoseconds by
# the scheduler; the clock ticks of /proc/PID/stat are printed beside it,
# but at 1 Hz a 10-minute run is only a few dozen of them. Resident memory
# is sampled every 10 seconds. With --floor a third simulator feeds
# wake-floor (bench/wake-floor.cpp), which has the viewer's wake-ups and
# does nothing with them: one thread polls the port and reads, one wakes
# every 500 ms; its share is what those wake-ups alone cost here. Installs
# gpsd with apt-get when it is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
minutes=10
capture=$root/testdata/gpsd-logs/haicom-305N.log
simulate=0
baud=57600
warmup=20
screenshot=""
floor=0
while [ $# -gt 0 ]; do
  case "$1" in
    --minutes) minutes=$2; shift 2 ;;
    --capture) capture=$2; shift 2 ;;
    --simulate) simulate=1; shift ;;
    --warm-up) warmup=$2; shift 2 ;;
    --screenshot) screenshot=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --floor) floor=1; shift ;;
    *) echo "side-by-side: unknown option $1" >&2; exit 2 ;;
  esac
done
[ -r "$capture" ] || { echo "side-by-side: cannot read $capture" >&2; exit 1; }

"$root/scripts/install-deps.sh"
if ! command -v gpsd >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends gpsd
fi
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target receiver-sim link-monitor quelmar post-message wake-floor >/dev/null

work=$(mktemp -d)
pids=()
viewer_pid=""
cleanup() {
  [ -n "$viewer_pid" ] && kill "$viewer_pid" 2>/dev/null
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A receiver simulator replaying the capture; its pseudo-terminal's path
# goes to the variable named $1.
start_sim() {
  local fifo=$work/sim-$1
  mkfifo "$fifo"
  local source=(--replay "$capture" --loop --burst)
  [ "$simulate" = 1 ] && source=()
  "$build/tools/receiver-sim/receiver-sim" "${source[@]}" --baud "$baud" \
    >"$fifo" 2>"$work/sim-$1.log" &
  pids+=($!)
  local path
  read -r path <"$fifo"
  printf -v "$1" '%s' "$path"
}
start_sim viewer_tty
start_sim gpsd_tty
floor_pid=""
if [ "$floor" = 1 ]; then
  start_sim floor_tty
  "$build/bench/wake-floor" "$floor_tty" &
  floor_pid=$!
  pids+=("$floor_pid")
fi

# The viewer, on the first one as the GPS sleeve's COM3:.
export HANDHELD_DEVICE=$work/handheld HANDHELD_HEADLESS=1
mkdir -p "$HANDHELD_DEVICE"
"$build/tools/link-monitor/link-monitor" --device "$viewer_tty" --list-only >/dev/null
"$build/viewer/quelmar" >"$work/viewer.log" 2>&1 &
viewer_pid=$!

# gpsd on the second: foreground (-N), polling the device without waiting
# for a client (-n), read-only (-b), its line rate fixed (-s), a port of its
# own on loopback (no -G), no control socket (-F is not given), no hotplug.
port=$(( 30000 + RANDOM % 20000 ))
gpsd -N -n -b -s "$baud" -S "$port" "$gpsd_tty" >"$work/gpsd.log" 2>&1 &
gpsd_pid=$!
pids+=("$gpsd_pid")
# One watching client: JSON reports, read and dropped.
for _ in $(seq 50); do
  { exec 5<>"/dev/tcp/127.0.0.1/$port"; } 2>/dev/null && break
  sleep 0.1
done
printf '?WATCH={"enable":true,"json":true};\n' >&5
cat <&5 >"$work/gpsd.json" &
pids+=($!)

# Clock ticks of user and system time (fields 14 and 15 of /proc/PID/stat,
# counted after the command's closing parenthesis).
ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
# Nanoseconds on a CPU and times put on one (woken), summed over the
# process's threads (/proc/PID/task/*/schedstat). Both programs keep their
# threads for the whole run, so nothing is lost with a thread that ended.
runtime() { cat /proc/"$1"/task/*/schedstat | awk '{ns += $1; runs += $3} END {printf "%.0f %.0f\n", ns, runs}'; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
alive() {
  kill -0 "$viewer_pid" 2>/dev/null || { echo "side-by-side: the viewer ended" >&2; exit 1; }
  kill -0 "$gpsd_pid" 2>/dev/null || { echo "side-by-side: gpsd ended" >&2; cat "$work/gpsd.log" >&2; exit 1; }
}

what="replay of $(basename "$capture")"
[ "$simulate" = 1 ] && what="simulated receiver, 1 Hz NMEA"
echo "$what at $baud baud: $minutes min after a ${warmup} s warm-up"
sleep "$warmup"
alive
hz=$(getconf CLK_TCK)
start=$(date +%s.%N)
viewer_start=$(ticks "$viewer_pid")
gpsd_start=$(ticks "$gpsd_pid")
read -r viewer_ns0 viewer_runs0 <<<"$(runtime "$viewer_pid")"
read -r gpsd_ns0 gpsd_runs0 <<<"$(runtime "$gpsd_pid")"
floor_ns0=0 floor_runs0=0 floor_ns1=0 floor_runs1=0
[ -n "$floor_pid" ] && read -r floor_ns0 floor_runs0 <<<"$(runtime "$floor_pid")"
tpv_start=$(grep -c '"class":"TPV"' "$work/gpsd.json" || true)
: >"$work/rss"
end=$(( $(date +%s) + minutes * 60 ))
while :; do
  alive
  echo "$(rss_kb "$viewer_pid") $(rss_kb "$gpsd_pid")" >>"$work/rss"
  [ "$(date +%s)" -ge "$end" ] && break
  sleep 10
done
viewer_end=$(ticks "$viewer_pid")
gpsd_end=$(ticks "$gpsd_pid")
read -r viewer_ns1 viewer_runs1 <<<"$(runtime "$viewer_pid")"
read -r gpsd_ns1 gpsd_runs1 <<<"$(runtime "$gpsd_pid")"
[ -n "$floor_pid" ] && read -r floor_ns1 floor_runs1 <<<"$(runtime "$floor_pid")"
finish=$(date +%s.%N)
tpv_end=$(grep -c '"class":"TPV"' "$work/gpsd.json" || true)

if [ -n "$screenshot" ]; then
  "$build/tools/post-message/post-message" --screenshot "$screenshot" && echo "Viewer's screen in $screenshot"
fi
"$build/tools/post-message/post-message" QUELMAR WM_COMMAND 40002 >/dev/null 2>&1 || true
wait "$viewer_pid" 2>/dev/null || true
viewer_pid=""

awk -v hz="$hz" -v t0="$start" -v t1="$finish" \
    -v v0="$viewer_start" -v v1="$viewer_end" -v g0="$gpsd_start" -v g1="$gpsd_end" \
    -v vns="$(( viewer_ns1 - viewer_ns0 ))" -v gns="$(( gpsd_ns1 - gpsd_ns0 ))" \
    -v vruns="$(( viewer_runs1 - viewer_runs0 ))" -v gruns="$(( gpsd_runs1 - gpsd_runs0 ))" \
    -v fns="$(( floor_ns1 - floor_ns0 ))" -v fruns="$(( floor_runs1 - floor_runs0 ))" \
    -v tpv="$(( tpv_end - tpv_start ))" -f /dev/stdin "$work/rss" <<'EOF'
{ n++; v[n] = $1; g[n] = $2 }
function range(a, what,   i, lo, hi) {
  lo = hi = a[1]
  for (i = 2; i <= n; i++) { if (a[i] < lo) lo = a[i]; if (a[i] > hi) hi = a[i] }
  printf "%-7s resident memory: %d kB at the start, %d kB at the end, %d..%d kB over %d samples\n",
         what, a[1], a[n], lo, hi, n
}
END {
  wall = t1 - t0
  vcpu = 100 * vns / 1e9 / wall
  gcpu = 100 * gns / 1e9 / wall
  printf "wall time %.0f s; gpsd reported %d fixes to its client\n", wall, tpv
  printf "viewer  CPU: %.4f %% of one core (%.1f ms; %.1f wake-ups a second; %d ticks of %d Hz)\n",
         vcpu, vns / 1e6, vruns / wall, v1 - v0, hz
  printf "gpsd    CPU: %.4f %% of one core (%.1f ms; %.1f wake-ups a second; %d ticks of %d Hz)\n",
         gcpu, gns / 1e6, gruns / wall, g1 - g0, hz
  if (gns > 0) printf "ratio viewer / gpsd: %.2f\n", vcpu / gcpu
  if (fruns > 0) {
    printf "floor   CPU: %.4f %% of one core (%.1f ms; %.1f wake-ups a second)\n",
           100 * fns / 1e9 / wall, fns / 1e6, fruns / wall
    if (gns > 0) printf "ratio floor / gpsd: %.2f\n", fns / gns
  }
  range(v, "viewer")
  range(g, "gpsd")
}
EOF
