#!/usr/bin/env bash
# Runs a command under Xvfb with its own D-Bus session and the AT-SPI accessibility bus,
# as a desktop with a screen reader has them; Qt programs run on xcb with their
# accessibility bridge on. Exits 77 (skipped) where a piece is missing.
# Usage: atspi_session.sh COMMAND [arguments...]
set -euo pipefail
export launcher=/usr/libexec/at-spi-bus-launcher
for tool in xvfb-run dbus-run-session gdbus "$launcher"; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/test.sh installs it)"; exit 77; }
done
# Parallel test runs each try their own display numbers rather than all racing for :99.
exec xvfb-run -n $((100 + RANDOM % 800)) -a -s "-screen 0 1024x768x24" dbus-run-session -- bash -euo pipefail -c '
"$launcher" --launch-immediately & bus=$!
trap "kill $bus 2>/dev/null || true" EXIT
# Wait until the launcher owns org.a11y.Bus (asking the bus before then would start a second one).
for i in $(seq 300); do
  gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner org.a11y.Bus 2>/dev/null | grep -q true &&
    gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.a11y.Bus.GetAddress >/dev/null 2>&1 &&
    break
  kill -0 $bus || { echo "at-spi-bus-launcher ended"; exit 1; }
  [ "$i" -lt 300 ] || { echo "the accessibility bus did not come up in 30 s"; exit 1; }
  sleep 0.1
done
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@"
' bash "$@"
