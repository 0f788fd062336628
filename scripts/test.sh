#!/usr/bin/env bash
# Runs every test: the host tree's, then the Windows tree's under Wine and Xvfb.
# Usage: test.sh BUILD_DIR WINDOWS_TREE [ctest arguments...]
set -u
build=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
shift 2
here=$(cd "$(dirname "$0")" && pwd)
prefix="$win/wineprefix"
arch=$(sed -n 's/^TL_WINEARCH:[A-Z]*=//p' "$win/CMakeCache.txt")
[ -n "$arch" ] || arch=win32
xfile="$win/xvfb.pid"

cleanup() {
  ( . "$here/wine-env.sh" "$prefix" "$arch"; wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1 ) || true
  "$here/xvfb.sh" stop "$xfile"
  rm -f "$prefix.display"
}
trap cleanup EXIT INT TERM

"$here/xvfb.sh" start "$xfile" || exit 1
read -r display _ < "$xfile"
export DISPLAY="$display"
echo "$display" > "$prefix.display"
"$here/wine-prefix.sh" "$prefix" "$arch" || { echo "could not create the Wine prefix" >&2; exit 1; }

status=0
echo "== host tests"
( cd "$build/host" && ctest --output-on-failure "$@" ) || status=1
echo "== Windows tests under Wine ($arch)"
( cd "$win" && ctest --output-on-failure "$@" ) || status=1
exit $status
