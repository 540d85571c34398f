#!/usr/bin/env bash
# Installs the Debian packages the panel needs to build, run and test, when missing.
# apt's output goes to build/deps.log (shown whole only when the install fails).
# A service that comes with what it installs is left as it was before: not started
# during the install, and not enabled (Debian's mosquitto would otherwise start a
# broker on port 1883 and start it again at every boot).
# Usage: scripts/deps.sh [extra packages...]
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(g++ cmake make pkg-config qt6-base-dev qt6-serialport-dev qt6-httpserver-dev qt6-websockets-dev libmosquitto-dev fonts-ipafont-gothic help2man "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
mkdir -p build
log=build/deps.log
echo "deps.sh: ${#missing[@]} to install (${missing[*]}) and what they need; apt's output in $log"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
installed() { dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' | awk '$1 == "ii" { print $2 }' | sort; }
before=$(installed)
# No service starts during the install: invoke-rc.d and deb-systemd-invoke ask
# policy-rc.d, and 101 is "not allowed". One that is there already is left alone.
policy=/usr/sbin/policy-rc.d
ours=""
if [ ! -e "$policy" ]; then
  trap '$sudo rm -f "$policy"' EXIT
  printf '#!/bin/sh\n# scripts/deps.sh: no service starts while it installs.\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
  ours=yes
fi
if ! { $sudo apt-get update -q &&
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; } >"$log" 2>&1 </dev/null; then
  cat "$log" >&2
  echo "deps.sh: the install failed (above, and in $log)" >&2
  exit 1
fi
if [ -n "$ours" ]; then
  $sudo rm -f "$policy"
  trap - EXIT
fi
# The systemd units of the packages that were not here before (templates aside):
# disabled, as the packages enabled them (systemctl works on the files without
# systemd running, and on a SysV script of the same name too; without systemctl,
# deb-systemd-helper, which enabled them), and stopped where systemd runs.
units=()
for p in $(comm -13 <(echo "$before") <(installed)); do
  while read -r unit; do
    units+=("${unit##*/}")
  done < <(dpkg-query -L "$p" | grep -E '^(/usr)?/lib/systemd/system/[^/@]+\.(service|socket|timer|path)$' || true)
done
[ ${#units[@]} -gt 0 ] || exit 0
echo "deps.sh: disabling ${units[*]}" >>"$log"
disable=(systemctl disable)
command -v systemctl >/dev/null || disable=(deb-systemd-helper disable)
if ! { $sudo "${disable[@]}" "${units[@]}" && { [ ! -d /run/systemd/system ] || $sudo systemctl stop "${units[@]}"; }; } >>"$log" 2>&1; then
  echo "deps.sh: could not disable or stop the services it installed (${units[*]}): see $log" >&2
  exit 1
fi
