#!/usr/bin/env bash
# Runs a Qt Test program on xcb under Xvfb with openbox and the theme in tests/openbox
# (a title bar of about 50 px). Exits 77 (skipped) where a tool is missing.
# Usage: openbox_window.sh TEST_PROGRAM [test arguments...]
set -euo pipefail
for tool in xvfb-run openbox xprop; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/test.sh installs it)"; exit 77; }
done
export here=$(cd "$(dirname "$0")" && pwd) data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
mkdir -p "$data/themes/OrvaTallTitle/openbox-3" && cp "$here/openbox/themerc" "$data/themes/OrvaTallTitle/openbox-3/"
exec xvfb-run -n $((100 + RANDOM % 800)) -a -s "-screen 0 1024x768x24" bash -euo pipefail -c '
XDG_DATA_HOME="$data" openbox --config-file "$here/openbox/rc.xml" 2>"$data/openbox.log" & wm=$!
trap "kill $wm 2>/dev/null || true" EXIT
for i in $(seq 600); do  # until openbox announces itself on the root window
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && exec env QT_QPA_PLATFORM=xcb "$@"
  kill -0 $wm 2>/dev/null || { cat "$data/openbox.log"; echo "openbox did not start"; exit 1; }
  sleep 0.1
done
echo "openbox did not come up in 60 s"; exit 1
' bash "$@"
