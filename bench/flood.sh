#!/usr/bin/env bash
# Flood: the real orva-panel (offscreen) on orva-sim --flood at 19200 baud, no
# command ever sent, so the reply window never ends and every received byte is
# the panel's to handle. Samples the panel's CPU time (utime + stime from
# /proc/PID/stat) and VmRSS 2 s after start and then every STEP seconds until
# the end, and prints the CPU share of one core and the memory over time.
#
#   bench/flood.sh [SECONDS]      (default 60; BUILD_DIR defaults to ./build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$here/../build}
build=$(cd "$build" && pwd)
secs=${1:-60}
step=$(( secs >= 20 ? secs / 4 : secs ))
[[ $secs =~ ^[0-9]+$ && $secs -ge 1 ]] || { echo "usage: $0 [SECONDS]" >&2; exit 2; }
for b in orva-panel orva-sim; do
  [[ -x $build/$b ]] || { echo "flood.sh: $build/$b not built" >&2; exit 1; }
done

coproc SIM { exec "$build/orva-sim" --flood --baud 19200 --exit-on-stdin-eof; }
sim_pid=$SIM_PID
read -r pty <&"${SIM[0]}"
QT_QPA_PLATFORM=offscreen "$build/orva-panel" --com1 "$pty" --com2 "$pty" >/dev/null 2>&1 &
panel=$!
cleanup() {
  kill "$panel" 2>/dev/null || true
  wait "$panel" 2>/dev/null || true
  kill "$sim_pid" 2>/dev/null || true
  # SIGTERM leaves the panel's serial port lock behind: remove it if it is its.
  local lock=/var/lock/LCK..${pty#/dev/}
  lock=${lock//pts\//pts_}
  if [[ -f $lock && $(head -n1 "$lock" 2>/dev/null) == "$panel" ]]; then rm -f "$lock"; fi
}
trap cleanup EXIT

tck=$(getconf CLK_TCK)
now() { date +%s.%N; }
# utime + stime in clock ticks (fields 14 and 15; the name in parentheses comes first).
ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
kib() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }
rchar() { awk '$1 == "rchar:" { print $2 }' "/proc/$1/io"; }

sleep 2
kill -0 "$panel" 2>/dev/null || { echo "flood.sh: orva-panel exited early" >&2; exit 1; }
t0=$(now); c0=$(ticks "$panel"); s0=$(ticks "$sim_pid"); r0=$(rchar "$panel"); m0=$(kib "$panel" VmRSS)
load0=$(cut -d' ' -f1-3 /proc/loadavg)

echo "## Flood: orva-panel (offscreen) on orva-sim --flood, 19200 baud, ${secs} s"
echo
echo "| window s | panel CPU % of one core | VmRSS KiB at end | bytes read by the panel |"
echo "|---|---|---|---|"
tp=$t0; cp=$c0; rp=$r0; elapsed=0
while (( elapsed < secs )); do
  d=$(( secs - elapsed < step ? secs - elapsed : step ))
  sleep "$d"
  elapsed=$(( elapsed + d ))
  kill -0 "$panel" 2>/dev/null || { echo "flood.sh: orva-panel exited during the run" >&2; exit 1; }
  t=$(now); c=$(ticks "$panel"); r=$(rchar "$panel"); m=$(kib "$panel" VmRSS)
  awk -v a="$tp" -v b="$t" -v c1="$cp" -v c2="$c" -v k="$tck" -v e="$elapsed" -v d="$d" -v m="$m" -v r=$(( r - rp )) \
    'BEGIN { printf "| %d–%d | %.2f | %d | %d |\n", e - d, e, 100 * (c2 - c1) / k / (b - a), m, r }'
  tp=$t; cp=$c; rp=$r
done
t1=$(now); c1=$(ticks "$panel"); s1=$(ticks "$sim_pid"); r1=$(rchar "$panel"); m1=$(kib "$panel" VmRSS)
hwm=$(kib "$panel" VmHWM)
echo
awk -v a="$t0" -v b="$t1" -v c0="$c0" -v c1="$c1" -v s0="$s0" -v s1="$s1" -v k="$tck" -v m0="$m0" -v m1="$m1" \
  -v hwm="$hwm" -v r=$(( r1 - r0 )) -v load0="$load0" -v load1="$(cut -d' ' -f1-3 /proc/loadavg)" 'BEGIN {
  w = b - a
  printf "| figure | value | aim |\n|---|---|---|\n"
  printf "| panel CPU, whole run | %.2f %% of one core (%.2f s CPU in %.1f s) | < 5 %% |\n", 100 * (c1 - c0) / k / w, (c1 - c0) / k, w
  printf "| panel VmRSS at start (2 s) → end | %d → %d KiB (%+d KiB) | flat |\n", m0, m1, m1 - m0
  printf "| panel VmHWM at end | %d KiB | |\n", hwm
  printf "| bytes the panel read | %d (%.0f B/s; the line carries 1920 B/s) | |\n", r, r / w
  printf "| orva-sim CPU | %.2f %% of one core | |\n", 100 * (s1 - s0) / k / w
  printf "\nMachine load average (1/5/15 min): %s at start, %s at end. CPU time has %d ms resolution (CLK_TCK %d).\n", load0, load1, 1000 / k, k
}'
