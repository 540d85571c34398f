#!/usr/bin/env bash
# Installs what is missing, builds, and starts the panel connected to the built-in
# simulated projector (orva-sim on a pseudo-terminal). Extra arguments go to the panel.
# Without a display the panel runs on a virtual one (Xvfb, through xvfb-run -a),
# where no one sees it: the same program, for a check that it comes up and runs.
# RUN_SH_DRY_RUN=1 says what it would run instead of running it.
set -euo pipefail
cd "$(dirname "$0")/.."
run() {
  if [ -n "${RUN_SH_DRY_RUN:-}" ]; then echo "would run: $*"; else "$@"; fi
}
deps=()
virtual=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set): the panel runs on a virtual one (xvfb-run -a), unseen; for its window run this in a graphical session or with DISPLAY set" >&2
  deps=(xvfb xauth)
  virtual=(xvfb-run -a)
fi
run scripts/deps.sh "${deps[@]}"
run scripts/build.sh default orva-panel orva-sim
if [ -n "${RUN_SH_DRY_RUN:-}" ]; then
  run "${virtual[@]}" build/orva-panel --com1 PSEUDO-TERMINAL "$@"
  exit 0
fi
# The simulator prints the pseudo-terminal to use as COM1 and ends with the panel.
coproc SIM { exec build/orva-sim --countdown-ms 3000 --cooldown-ms 5000 --exit-on-stdin-eof; }
read -r pty <&"${SIM[0]}"
echo "Simulated projector on $pty"
status=0
"${virtual[@]}" build/orva-panel --com1 "$pty" "$@" || status=$?
kill "$SIM_PID" 2>/dev/null || true
wait "$SIM_PID" 2>/dev/null || true
exit $status
