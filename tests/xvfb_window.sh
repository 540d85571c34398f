#!/usr/bin/env bash
# The real window under Xvfb: orva-panel --com1 <pty> opens the captioned window,
# 633 px wide at the compact height, with the pty at 19200 8N1; a screenshot shows
# the controls where the layout puts them. Usage: xvfb_window.sh BUILD_DIR [PNG]
set -euo pipefail
build=$(cd "$1" && pwd)
shot=${2:-$build/window-xvfb.png}
export build shot
exec xvfb-run -n $((100 + RANDOM % 800)) -a -s "-screen 0 1024x768x24" bash -euo pipefail -c '
coproc SIM { exec "$build/orva-sim" --exit-on-stdin-eof; }
read -r pty <&"${SIM[0]}"
"$build/orva-panel" --com1 "$pty" & panel=$!
trap "kill $panel $SIM_PID 2>/dev/null || true" EXIT
title="ORVA   TK58R   CONTROL   Ver.1.40"
for i in $(seq 300); do xwininfo -name "$title" >/dev/null 2>&1 && break; sleep 0.1; done
info=$(xwininfo -name "$title")
width=$(awk "/Width:/ {print \$2}" <<<"$info")
height=$(awk "/Height:/ {print \$2}" <<<"$info")
x=$(awk "/Absolute upper-left X:/ {print \$4}" <<<"$info")
y=$(awk "/Absolute upper-left Y:/ {print \$4}" <<<"$info")
echo "window ${width}x${height} at $x,$y"
fail=0
check() { if [ "$2" != "$3" ]; then echo "FAIL $1: got $2, expected $3"; fail=1; else echo "ok $1: $2"; fi; }
check width "$width" 633
# Compact height: 5350 twips outer; with no window manager the design title bar
# (370 twips) is assumed, leaving a client area of 332 px.
check height "$height" 332
settings=$(stty -F "$pty" -a)
check speed "$(grep -o "speed [0-9]* baud" <<<"$settings")" "speed 19200 baud"
check "8 data bits" "$(grep -ow "cs8" <<<"$settings")" cs8
check "no parity" "$(grep -ow -- "-parenb" <<<"$settings")" -parenb
check "1 stop bit" "$(grep -ow -- "-cstopb" <<<"$settings")" -cstopb
pixel() { convert "$shot" -format "%[hex:p{$(( x + $1 )),$(( y + $2 ))}]" info: | cut -c1-6; }
# Give a slow machine time to paint before the pixels are read.
for i in $(seq 20); do
  import -window root "$shot"
  [ "$(pixel 20 60)" = C0FFC0 ] && break
  sleep 0.5
done
# POWER ON face (Frame1 at 8,16 + Command17 at 8,40), the word mark ground,
# the SELECT key face, the cursor-pad outline, the window ground.
check "POWER ON face" "$(pixel 20 60)" C0FFC0
check "word mark ground" "$(pixel 545 9)" B4B4B4
check "SELECT face" "$(pixel 84 204)" FF8000
check "outline" "$(pixel 100 160)" 8080FF
check "window ground" "$(pixel 430 230)" C0C0C0
exit $fail
'
