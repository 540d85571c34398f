#!/usr/bin/env bash
# The real orva-bridge driven by the npm registry's PJLink client (the pjlink
# package, pinned with its dependency by tests/pjlink_npm/package-lock.json),
# installed into NPM_DIR in the build tree, never into the source tree.
# Usage: pjlink_npm.sh install NPM_DIR              installs the client (exit 77: cannot)
#        pjlink_npm.sh NPM_DIR ORVA_SIM ORVA_BRIDGE  installs it where missing, runs
#                                                   tests/pjlink_npm.js (exit 77: skipped)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lock=$here/pjlink_npm/package-lock.json

install() {
  local dir=$1
  [ -f "$dir/node_modules/pjlink/package.json" ] && cmp -s "$lock" "$dir/package-lock.json" && return 0
  command -v node >/dev/null || { echo "SKIP: node is not installed (scripts/test.sh installs it)"; return 77; }
  command -v npm >/dev/null || { echo "SKIP: npm is not installed (scripts/test.sh installs it)"; return 77; }
  mkdir -p "$dir" && cp "$here/pjlink_npm/package.json" "$lock" "$dir/" || return 1
  if ! npm ci --prefix "$dir" --no-audit --no-fund --ignore-scripts --fetch-retries 1 --fetch-retry-maxtimeout 10000 >"$dir/npm-ci.log" 2>&1; then
    tail -n 5 "$dir/npm-ci.log"
    rm -f "$dir/package-lock.json"
    echo "SKIP: npm could not install pjlink@0.2.8 into $dir (no registry reached?)"
    return 77
  fi
}

if [ "${1:-}" = install ]; then
  install "${2:?usage: pjlink_npm.sh install NPM_DIR}"
  exit
fi
[ $# -eq 3 ] || { echo "usage: pjlink_npm.sh NPM_DIR ORVA_SIM ORVA_BRIDGE" >&2; exit 2; }
command -v node >/dev/null || { echo "SKIP: node is not installed (scripts/test.sh installs it)"; exit 77; }
install "$1" || exit
echo "pjlink $(node -p "require('$1/node_modules/pjlink/package.json').version") on node $(node --version)"
exec node "$here/pjlink_npm.js" "$@"
