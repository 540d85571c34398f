#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite (headless; the
# real-window checks run under Xvfb, one of them with openbox as window manager,
# the screen-reader checks with a D-Bus session and the AT-SPI bus).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh xvfb xauth x11-utils imagemagick openbox lintian dpkg-dev file \
  dbus-daemon libglib2.0-bin at-spi2-core python3-pyatspi
scripts/build.sh default
QT_QPA_PLATFORM=offscreen ctest --preset default -j"$(nproc)"
