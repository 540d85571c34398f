#!/usr/bin/env bash
# Runs a Qt Test program on the real xcb platform under Xvfb with openbox as the
# window manager, using the theme in tests/openbox (a title bar of about 50 px).
# Exits 77 (skipped) where Xvfb or openbox is missing.
# Usage: openbox_window.sh TEST_PROGRAM [test arguments...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
for tool in xvfb-run openbox xprop; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/test.sh installs it)"
    exit 77
  fi
done
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
mkdir -p "$data/themes/OrvaTallTitle/openbox-3"
cp "$here/openbox/themerc" "$data/themes/OrvaTallTitle/openbox-3/themerc"
export data here
exec xvfb-run -n $((100 + RANDOM % 800)) -a -s "-screen 0 1024x768x24" bash -euo pipefail -c '
XDG_DATA_HOME="$data" openbox --config-file "$here/openbox/rc.xml" 2>"$data/openbox.log" & wm=$!
trap "kill $wm 2>/dev/null || true" EXIT
# The window manager announces itself on the root window; a slow machine may take
# a while to get there.
for i in $(seq 600); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  kill -0 $wm 2>/dev/null || { cat "$data/openbox.log"; echo "openbox did not start"; exit 1; }
  sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id" || { echo "openbox did not come up in 60 s"; exit 1; }
QT_QPA_PLATFORM=xcb "$@"
' bash "$@"
