#!/usr/bin/env bash
# Installs the Debian packages the panel needs to build, run and test, when missing.
# Usage: scripts/deps.sh [extra packages...]
set -euo pipefail
packages=(g++ cmake make pkg-config qt6-base-dev qt6-serialport-dev libmosquitto-dev fonts-ipafont-gothic help2man "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
