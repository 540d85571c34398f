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
# Waits for the launcher to own org.a11y.Bus (asking the bus before then would start a second one).
gdbus wait --session --timeout 30 org.a11y.Bus || { echo "the accessibility bus did not come up in 30 s"; exit 1; }
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@"
' bash "$@"
