#!/usr/bin/env bash
# The hardened checks: the whole test suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and every fuzz target for a short fixed number of
# inputs (clang + libFuzzer). Long fuzz runs: see the README.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh xvfb xauth x11-utils imagemagick clang libclang-rt-14-dev
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
scripts/build.sh asan
QT_QPA_PLATFORM=offscreen ctest --preset asan -j"$(nproc)" -E xvfb_window
scripts/build.sh fuzz
QT_QPA_PLATFORM=offscreen ctest --test-dir build-fuzz --output-on-failure -j"$(nproc)"
