#!/usr/bin/env bash
# Runs a command under Xvfb with its own D-Bus session and the AT-SPI accessibility
# bus, as a desktop with a screen reader has them; Qt programs run on xcb with their
# accessibility bridge switched on. Exits 77 (skipped) where a piece is missing.
# Usage: atspi_session.sh COMMAND [arguments...]
set -euo pipefail
launcher=/usr/libexec/at-spi-bus-launcher
for tool in xvfb-run dbus-run-session gdbus "$launcher"; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/test.sh installs it)"
    exit 77
  fi
done
export launcher
# Several test runs may start X servers at once: each tries its own display numbers
# (-n before -a) rather than all racing for :99.
exec xvfb-run -n $((100 + RANDOM % 800)) -a -s "-screen 0 1024x768x24" dbus-run-session -- bash -euo pipefail -c '
log=$(mktemp)
"$launcher" --launch-immediately 2>"$log" & bus=$!
trap "kill $bus 2>/dev/null || true; rm -f \"$log\"" EXIT
# The launcher owns org.a11y.Bus once it is up; a slow machine may take a while to
# get there. (Asking the bus itself before then would have D-Bus start a second one.)
up=0
for i in $(seq 300); do
  if gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
       --method org.freedesktop.DBus.NameHasOwner org.a11y.Bus 2>/dev/null | grep -q true &&
     gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
       --method org.a11y.Bus.GetAddress >/dev/null 2>&1; then up=1; break; fi
  kill -0 $bus 2>/dev/null || { cat "$log"; echo "at-spi-bus-launcher ended"; exit 1; }
  sleep 0.1
done
[ $up -eq 1 ] || { cat "$log"; echo "the accessibility bus did not come up in 30 s"; exit 1; }
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
status=0
"$@" || status=$?
exit $status
' bash "$@"
