#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite (headless; the
# real-window checks run under Xvfb, one of them with openbox as window manager).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh xvfb xauth x11-utils imagemagick openbox lintian dpkg-dev file
scripts/build.sh default
QT_QPA_PLATFORM=offscreen ctest --preset default -j"$(nproc)"
