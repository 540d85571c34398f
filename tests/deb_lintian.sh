#!/usr/bin/env bash
# Builds the two Debian packages from a built tree and checks them: lintian finds no
# error or warning, the Depends, what each package holds, the icons.
# Usage: deb_lintian.sh BUILD_DIR      (exit 77: skipped)
set -uo pipefail
build=${1:?usage: deb_lintian.sh BUILD_DIR}
for tool in cpack lintian dpkg-shlibdeps dpkg-deb file; do
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
panel=$work/orva-panel_1.40_amd64.deb sim=$work/orva-sim_1.40_amd64.deb
lintian --fail-on error,warning "$panel" "$sim" >"$work/lintian.txt" 2>&1 ||
  { cat "$work/lintian.txt"; fail "lintian reports errors or warnings"; }

depends=$(dpkg-deb -f "$panel" Depends)
for needed in 'libc6 (>= 2.34)' 'libqt6core6 (>= 6.4' 'libqt6widgets6 (' 'libqt6serialport6 (' 'libstdc++6 (>= ' \
              'fonts-ipafont-gothic' 'qt6-qpa-plugins'; do
  [[ $depends == *"$needed"* ]] || fail "orva-panel Depends lacks \"$needed\": $depends"
done
[[ $(dpkg-deb -f "$panel" Suggests) == *orva-sim* ]] || fail "orva-panel does not suggest orva-sim"
[[ $(dpkg-deb -f "$sim" Depends) != *libqt6* ]] || fail "orva-sim depends on Qt"

panel_files=$(dpkg-deb -c "$panel" | awk '{print $6}') sim_files=$(dpkg-deb -c "$sim" | awk '{print $6}')
for f in ./usr/bin/orva-panel ./usr/bin/orva-ctl ./usr/share/man/man1/orva-ctl.1.gz; do
  grep -qx "$f" <<<"$panel_files" || fail "orva-panel lacks $f"
done
grep -q orva-sim <<<"$panel_files" && fail "orva-panel holds simulator files"
grep -qx ./usr/bin/orva-sim <<<"$sim_files" || fail "orva-sim lacks usr/bin/orva-sim"
grep -v '^./usr/share/doc/' <<<"$sim_files" | grep -q orva-panel && fail "orva-sim holds panel files"

dpkg-deb -x "$panel" "$work/root"
for size in 16 32 48 64 128 256; do
  icon=$work/root/usr/share/icons/hicolor/${size}x${size}/apps/orva-panel.png
  [[ $(file -b "$icon") == "PNG image data, $size x $size, 8-bit/color RGBA"* ]] || fail "${size}x${size} icon: $(file -b "$icon")"
done
[ "$failures" -eq 0 ] && echo PASS
