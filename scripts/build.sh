#!/usr/bin/env bash
# Configures and builds a preset (default: "default", into build/); further
# arguments name the targets to build (default: all).
# Usage: scripts/build.sh [PRESET] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
shift || true
targets=()
[ $# -gt 0 ] && targets=(--target "$@")
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)" "${targets[@]}"
