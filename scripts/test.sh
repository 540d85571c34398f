#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite (headless; the
# real-window checks run under Xvfb, one of them with openbox as window manager,
# the screen-reader checks with a D-Bus session and the AT-SPI bus).
set -euo pipefail
cd "$(dirname "$0")/.."
# Node.js and npm for the npm PJLink client's test: Debian's, only where the machine
# has none (a Node.js from elsewhere brings its own npm and conflicts with Debian's).
node_packages=()
command -v node >/dev/null || node_packages+=(nodejs)
command -v npm >/dev/null || node_packages+=(npm)
scripts/deps.sh xvfb xauth x11-utils imagemagick openbox lintian dpkg-dev file \
  dbus-daemon libglib2.0-bin at-spi2-core python3-pyatspi mosquitto mosquitto-clients \
  chromium chromium-driver python3-selenium prometheus "${node_packages[@]}"
scripts/build.sh default
# The npm registry's pjlink package, pinned, into the build tree; without a registry
# the pjlink_npm test is skipped.
tests/pjlink_npm.sh install build/npm || echo "test.sh: the pjlink npm package is not installed; pjlink_npm is skipped"
QT_QPA_PLATFORM=offscreen ctest --preset default -j"$(nproc)"
