#!/usr/bin/env bash
# Builds the two Debian packages from a built tree (cpack into a temporary folder)
# and checks them: lintian reports no error and no warning, the panel's Depends
# carry the versions dpkg-shlibdeps finds plus the run-time extras, the simulator
# is in its own package, orva-ctl and its man page ship with the panel, and the
# icons are square RGBA PNGs of every size.
# Usage: deb_lintian.sh BUILD_DIR      (exit 77: skipped)
set -uo pipefail
build=${1:?usage: deb_lintian.sh BUILD_DIR}
for tool in cpack lintian dpkg-shlibdeps dpkg-deb file; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/test.sh installs lintian, dpkg-dev and file)"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
panel=$work/orva-panel_1.40_amd64.deb
sim=$work/orva-sim_1.40_amd64.deb
for deb in "$panel" "$sim"; do
  [ -f "$deb" ] || { ls "$work"; echo "FAIL: no $(basename "$deb")"; exit 1; }
done

# Lintian's own exit status is kept apart from its root-privilege notice on stderr.
if ! lintian --fail-on error,warning "$panel" "$sim" >"$work/lintian.txt" 2>"$work/lintian.err"; then
  cat "$work/lintian.txt" "$work/lintian.err"
  fail "lintian reports errors or warnings"
fi

depends=$(dpkg-deb -f "$panel" Depends)
echo "orva-panel Depends: $depends"
echo "orva-sim Depends: $(dpkg-deb -f "$sim" Depends)"
for needed in 'libc6 (>= 2.34)' 'libqt6core6 (>= 6.4' 'libqt6widgets6 (' 'libqt6serialport6 (' \
              'libstdc++6 (>= ' 'fonts-ipafont-gothic' 'qt6-qpa-plugins'; do
  [[ $depends == *"$needed"* ]] || fail "orva-panel Depends lacks \"$needed\""
done
[[ $(dpkg-deb -f "$panel" Suggests) == *orva-sim* ]] || fail "orva-panel does not suggest orva-sim"
[[ $(dpkg-deb -f "$sim" Depends) != *libqt6* ]] || fail "orva-sim depends on Qt"

panel_files=$(dpkg-deb -c "$panel" | awk '{print $6}')
sim_files=$(dpkg-deb -c "$sim" | awk '{print $6}')
grep -qx './usr/bin/orva-panel' <<<"$panel_files" || fail "orva-panel lacks usr/bin/orva-panel"
grep -qx './usr/bin/orva-ctl' <<<"$panel_files" || fail "orva-panel lacks usr/bin/orva-ctl"
grep -qx './usr/share/man/man1/orva-ctl.1.gz' <<<"$panel_files" || fail "orva-panel lacks orva-ctl's man page"
grep -q 'orva-sim' <<<"$panel_files" && fail "orva-panel holds simulator files"
grep -qx './usr/bin/orva-sim' <<<"$sim_files" || fail "orva-sim lacks usr/bin/orva-sim"
grep -q 'orva-panel' <<<"$(grep -v '^./usr/share/doc/' <<<"$sim_files")" && fail "orva-sim holds panel files"

dpkg-deb -x "$panel" "$work/root"
for size in 16 32 48 64 128 256; do
  icon=$work/root/usr/share/icons/hicolor/${size}x${size}/apps/orva-panel.png
  if [ ! -f "$icon" ]; then
    fail "no ${size}x${size} icon"
  elif [[ $(file -b "$icon") != "PNG image data, $size x $size, 8-bit/color RGBA"* ]]; then
    fail "${size}x${size} icon is $(file -b "$icon")"
  fi
done

[ "$failures" -eq 0 ] || exit 1
echo "PASS"
