#!/usr/bin/env bash
# Builds the four Debian packages from a built tree and checks them: lintian finds
# no error or warning and no hardening tag at any level, the Depends, Recommends
# and Suggests, what each package holds, the service's conffile and maintainer
# scripts, BIND_NOW in every program, the icons.
# Usage: deb_lintian.sh BUILD_DIR      (exit 77: skipped)
set -uo pipefail
build=${1:?usage: deb_lintian.sh BUILD_DIR}
for tool in cpack lintian dpkg-shlibdeps dpkg-deb file readelf; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/test.sh installs it)"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The tree is built before the tests run: naming a generator without a preinstall
# step spares cpack the make run that finds every target up to date.
cpack --config "$build/CPackConfig.cmake" -B "$work" -D CPACK_CMAKE_GENERATOR=Ninja >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
panel=$work/orva-panel_1.40_amd64.deb tools=$work/orva-tools_1.40_amd64.deb sim=$work/orva-sim_1.40_amd64.deb
bridge=$work/orva-bridge_1.40_amd64.deb
# Every level shown (info, pedantic, experimental, overridden), so that a hardening
# tag is seen whatever its severity.
lintian --fail-on error,warning -L '>=pedantic' -E --show-overrides "$panel" "$tools" "$sim" "$bridge" >"$work/lintian.txt" 2>&1 ||
  { cat "$work/lintian.txt"; fail "lintian reports errors or warnings"; }
grep ' hardening-' "$work/lintian.txt" && fail "lintian reports hardening tags"

field() { dpkg-deb -f "$1" "$2"; }
# needs DEB NAME WHAT...: its Depends holds each; none NAME: it holds none of the window's, nor another package of ours.
needs() {
  local depends; depends=$(field "$1" Depends)
  for needed in "${@:3}"; do [[ $depends == *"$needed"* ]] || fail "$2 Depends lacks \"$needed\": $depends"; done
}
none() {
  local depends; depends=$(field "$1" Depends)
  for unwanted in libqt6gui libqt6widgets fonts- qt6-qpa-plugins orva-; do
    [[ $depends != *"$unwanted"* ]] || fail "$2 depends on $unwanted: $depends"
  done
}
needs "$panel" orva-panel 'libc6 (>= 2.34)' 'libqt6core6 (>= 6.4' 'libqt6widgets6 (' 'libqt6serialport6 (' 'libstdc++6 (>= ' \
  'fonts-ipafont-gothic' 'qt6-qpa-plugins'
[[ $(field "$panel" Recommends) == orva-tools ]] || fail "orva-panel Recommends: $(field "$panel" Recommends)"
[[ $(field "$panel" Suggests) == orva-sim ]] || fail "orva-panel Suggests: $(field "$panel" Suggests)"

# orva-tools runs on a host without a display: Qt Core and Qt Serial Port, nothing
# of the window's toolkit, its platform plugins or fonts, and not the panel.
needs "$tools" orva-tools 'libc6 (>= 2.34)' 'libqt6core6 (>= 6.4' 'libqt6serialport6 (' 'libstdc++6 (>= '
none "$tools" orva-tools
[[ -z $(field "$tools" Recommends)$(field "$tools" Suggests) ]] || fail "orva-tools recommends or suggests something"
[[ $(field "$sim" Depends) != *libqt6* ]] || fail "orva-sim depends on Qt"

# orva-bridge is a service on a host without a display: Qt Core, Network and
# Serial Port, the MQTT client library, adduser for its system user, and nothing of
# the window's.
needs "$bridge" orva-bridge adduser 'libc6 (>= 2.34)' 'libqt6core6 (>= 6.4' 'libqt6network6 (' 'libqt6serialport6 (' \
  'libstdc++6 (>= ' 'libmosquitto1 (>= '
none "$bridge" orva-bridge
[[ $(field "$bridge" Suggests) == orva-tools ]] || fail "orva-bridge Suggests: $(field "$bridge" Suggests)"
[[ $(field "$bridge" Section) == net ]] || fail "orva-bridge Section: $(field "$bridge" Section)"
# Its configuration is a conffile (kept when changed, removed on purge), and its
# scripts run as dpkg's maintainer scripts.
[[ $(dpkg-deb -I "$bridge" conffiles) == /etc/orva-bridge.conf ]] ||
  fail "orva-bridge conffiles: $(dpkg-deb -I "$bridge" conffiles | tr '\n' ' ')"
dpkg-deb -e "$bridge" "$work/bridge-control"
for script in postinst prerm postrm; do
  [[ $(stat -c %a "$work/bridge-control/$script" 2>/dev/null) == 755 ]] || fail "orva-bridge has no executable $script"
done

files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $6}'; }
panel_files=$(files "$panel") tools_files=$(files "$tools") sim_files=$(files "$sim") bridge_files=$(files "$bridge")
for f in ./usr/bin/orva-panel ./usr/share/man/man1/orva-panel.1.gz ./usr/share/applications/orva-panel.desktop \
         ./usr/share/doc/orva-panel/copyright ./usr/share/doc/orva-panel/changelog.gz; do
  grep -qx "$f" <<<"$panel_files" || fail "orva-panel lacks $f"
done
grep -e orva-ctl -e orva-sim -e orva-bridge <<<"$panel_files" && fail "orva-panel holds files of orva-ctl or the simulator"
expected_tools='./usr/bin/orva-ctl
./usr/share/doc/orva-tools/changelog.gz
./usr/share/doc/orva-tools/copyright
./usr/share/man/man1/orva-ctl.1.gz'
[[ $(sort <<<"$tools_files") == "$expected_tools" ]] || fail "orva-tools holds: $(echo $tools_files)"
for f in ./usr/bin/orva-sim ./usr/share/man/man1/orva-sim.1.gz ./usr/share/doc/orva-sim/copyright \
         ./usr/share/doc/orva-sim/changelog.gz; do
  grep -qx "$f" <<<"$sim_files" || fail "orva-sim lacks $f"
done
grep -v '^./usr/share/doc/' <<<"$sim_files" | grep -e orva-panel -e orva-ctl -e orva-bridge && fail "orva-sim holds files of the panel, orva-ctl or the bridge"
# The unit where Debian 12 looks for the units of packages.
expected_bridge='./etc/orva-bridge.conf
./lib/systemd/system/orva-bridge.service
./usr/bin/orva-bridge
./usr/share/doc/orva-bridge/changelog.gz
./usr/share/doc/orva-bridge/copyright
./usr/share/man/man1/orva-bridge.1.gz'
[[ $(sort <<<"$bridge_files") == "$expected_bridge" ]] || fail "orva-bridge holds: $(echo $bridge_files)"

for deb in "$panel" "$tools" "$sim" "$bridge"; do
  dpkg-deb -x "$deb" "$work/root"
done
# Every program resolves its symbols at start, so its GOT can be read-only.
for program in orva-panel orva-ctl orva-sim orva-bridge; do
  readelf -d "$work/root/usr/bin/$program" | grep -q '(FLAGS) *BIND_NOW' || fail "$program is not linked with BIND_NOW"
done
for size in 16 32 48 64 128 256; do
  icon=$work/root/usr/share/icons/hicolor/${size}x${size}/apps/orva-panel.png
  [[ $(file -b "$icon") == "PNG image data, $size x $size, 8-bit/color RGBA"* ]] || fail "${size}x${size} icon: $(file -b "$icon")"
done
[ "$failures" -eq 0 ] && echo PASS
