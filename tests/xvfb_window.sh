#!/usr/bin/env bash
# The real program on X (no window manager), started as a user starts it: no Qt
# platform named, only DISPLAY set. orva-panel --com1 <pty> opens the
# captioned window 633 x 332 px (5350 twips outer, less the design's 370 twip frame),
# with the pty at 19200 8N1 and the word mark as its icon. Usage: xvfb_window.sh BUILD_DIR
set -euo pipefail
export build=$(cd "$1" && pwd)
exec xvfb-run -n $((100 + RANDOM % 800)) -a -s "-screen 0 1024x768x24" bash -euo pipefail -c '
coproc SIM { exec "$build/orva-sim" --exit-on-stdin-eof; }
read -r pty <&"${SIM[0]}"
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY "$build/orva-panel" --com1 "$pty" & panel=$!
trap "kill $panel $SIM_PID 2>/dev/null || true" EXIT
title="ORVA   TK58R   CONTROL   Ver.1.40"
for i in $(seq 300); do xwininfo -name "$title" >/dev/null 2>&1 && break; sleep 0.1; done
got="$(xwininfo -name "$title" | awk "/Width:|Height:/ {printf \"%s \", \$2}")$(stty -F "$pty" -a | grep -ow -e "speed 19200" -e cs8 -e -parenb -e -cstopb | tr "\n" " ")$(xprop -name "$title" _NET_WM_ICON | grep -o "Icon (80 x 26)")"
echo "$got"
[ "$got" = "633 332 speed 19200 -parenb cs8 -cstopb Icon (80 x 26)" ]
'
