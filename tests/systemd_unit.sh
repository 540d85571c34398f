#!/usr/bin/env bash
# Checks orva-bridge's systemd unit: systemd-analyze verify finds nothing to say
# about it (with ExecStart on the built program, since verify wants the binary to
# exist, and Documentation= against the built man page), it starts the program as
# installed with the installed configuration, and it holds the hardening below and
# not PrivateDevices=, which would hide the serial devices.
# Usage: systemd_unit.sh UNIT_FILE BUILT_PROGRAM [BUILT_MAN_PAGE]      (exit 77: skipped)
set -uo pipefail
unit=${1:?usage: systemd_unit.sh UNIT_FILE BUILT_PROGRAM [BUILT_MAN_PAGE]}
program=$(realpath "${2:?usage: systemd_unit.sh UNIT_FILE BUILT_PROGRAM [BUILT_MAN_PAGE]}")
page=${3:-}
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is not installed (package systemd)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# One command line: as the package installs it (the first line of the reference below).
[ "$(grep -c '^ExecStart=' "$unit")" -eq 1 ] || fail "the unit has not exactly one ExecStart="

# The man page check runs man on Documentation='s man: links; the built page stands
# in for the installed one where it and man are there.
man_option=--man=no
if [ -n "$page" ] && [ -f "$page" ] && command -v man >/dev/null; then
  mkdir -p "$work/man/man1"
  cp "$page" "$work/man/man1/"
  man_option=--man=yes
  export MANPATH=$work/man
fi

# verify says what it ignores (an unknown key, a value it cannot parse) and still
# exits 0, so anything it says about the unit or the program is a failure.
# verify_copy NAME SED_EDIT: verifies a copy of the unit, edited, and prints what
# verify said about it; fails when verify fails.
verify_copy() {
  mkdir -p "$work/$1"
  sed -e "s|^ExecStart=/usr/bin/orva-bridge |ExecStart=$program |" -e "$2" "$unit" >"$work/$1/orva-bridge.service"
  systemd-analyze verify "$man_option" "$work/$1/orva-bridge.service" >"$work/$1.out" 2>&1
  local rc=$?
  grep orva-bridge "$work/$1.out"
  return $rc
}
if said=$(verify_copy unit ''); [ $? -ne 0 ] || [ -n "$said" ]; then
  cat "$work/unit.out"
  fail "systemd-analyze verify finds fault with the unit"
fi
# The same check must see a misspelt key and a value out of range, or it proves nothing.
for edit in 's/^Restart=/Restrat=/' 's/^RestartSec=.*/RestartSec=soon/'; do
  if said=$(verify_copy bad "$edit"); [ $? -eq 0 ] && [ -z "$said" ]; then
    fail "systemd-analyze verify says nothing of the unit edited with $edit"
  fi
done

# That command line and the hardening: every line of tests/reference/orva-bridge.service.lines as written there.
lines=$(dirname "$0")/reference/orva-bridge.service.lines
[ -s "$lines" ] || fail "$lines is missing"
while read -r line; do
  grep -qxF "$line" "$unit" || fail "the unit lacks $line"
done <"$lines"
grep -E '^[[:space:]]*PrivateDevices[[:space:]]*=' "$unit" && fail "the unit sets PrivateDevices=, which hides the serial devices"
# A later line granting a capability or another device policy would undo the above.
grep -E '^(CapabilityBoundingSet|AmbientCapabilities)=.' "$unit" && fail "the unit grants a capability"
[ "$(grep '^DevicePolicy=' "$unit")" = DevicePolicy=closed ] || fail "the unit sets another device policy"

[ "$failures" -eq 0 ] && echo PASS
