#!/usr/bin/env bash
# Installs what is missing, builds, and starts the panel connected to the built-in
# simulated projector (orva-sim on a pseudo-terminal). Extra arguments go to the panel.
set -euo pipefail
# The panel is a window: without a display it could only fail after the install
# and the build, so say so first.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set): run it in a graphical session, set DISPLAY, or use 'xvfb-run -a scripts/run.sh'" >&2
  exit 1
fi
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh default orva-panel orva-sim
# The simulator prints the pseudo-terminal to use as COM1 and ends with the panel.
coproc SIM { exec build/orva-sim --countdown-ms 3000 --cooldown-ms 5000 --exit-on-stdin-eof; }
read -r pty <&"${SIM[0]}"
echo "Simulated projector on $pty"
status=0
build/orva-panel --com1 "$pty" "$@" || status=$?
kill "$SIM_PID" 2>/dev/null || true
wait "$SIM_PID" 2>/dev/null || true
exit $status
