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
# Every level shown (info, pedantic, experimental, overridden), so that a hardening
# tag is seen whatever its severity.
lintian --fail-on error,warning -L '>=pedantic' -E --show-overrides "$work"/*.deb >"$work/lintian.txt" 2>&1 ||
  { cat "$work/lintian.txt"; fail "lintian reports errors or warnings"; }
grep ' hardening-' "$work/lintian.txt" && fail "lintian reports hardening tags"
bridge=$work/orva-bridge_1.40_amd64.deb ref=$(dirname "$0")/reference

[ -s "$ref/deb_fields.tsv" ] || fail "$ref/deb_fields.tsv is missing"
field() { dpkg-deb -f "$1" "$2"; }
while IFS=$'\t' read -r name key how text; do
  got=$(field "$work/${name}_1.40_amd64.deb" "$key")
  case $how in
    holds) [[ $got == *"$text"* ]] ;;
    lacks) [[ $got != *"$text"* ]] ;;
    *) [[ $got == "$text" ]] ;;
  esac || fail "$name $key $how \"$text\": $got"
done < <(grep -v '^#' "$ref/deb_fields.tsv")
# Its configuration is a conffile (kept when changed, removed on purge), and its
# scripts run as dpkg's maintainer scripts.
[[ $(dpkg-deb -I "$bridge" conffiles) == /etc/orva-bridge.conf ]] ||
  fail "orva-bridge conffiles: $(dpkg-deb -I "$bridge" conffiles | tr '\n' ' ')"
dpkg-deb -e "$bridge" "$work/bridge-control"
for script in postinst prerm postrm; do
  [[ $(stat -c %a "$work/bridge-control/$script" 2>/dev/null) == 755 ]] || fail "orva-bridge has no executable $script"
done

# What each package holds: tests/reference/deb_files.tsv, a line "PACKAGE FILE" each.
for deb in "$work"/*.deb; do
  name=$(field "$deb" Package) holds=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
  [[ $holds == $(awk -v p="$name" '$1 == p {print $2}' "$ref/deb_files.tsv" | sort) ]] ||
    fail "$name holds: $(echo $holds)"
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
