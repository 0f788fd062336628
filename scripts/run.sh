#!/usr/bin/env bash
# make run: shows the sample installer as built. Until the wizard drives an
# installation end to end, this reads the payload catalogue back from the
# built setup.exe's own resources under Wine (tools/catdump, the same resource
# calls the installer makes) and prints the packer's properties of the payload.
# Usage: run.sh BUILD_DIR WINDOWS_TREE
set -u
build=$(cd "$1" && pwd) || exit 1
win=$(cd "$2" && pwd) || exit 1
here=$(cd "$(dirname "$0")" && pwd)
prefix="$win/wineprefix"
arch=$(sed -n 's/^TL_WINEARCH:[A-Z]*=//p' "$win/CMakeCache.txt")
[ -n "$arch" ] || arch=win32
xfile="$win/xvfb-run.pid"
setup="$win/setup.exe"
for f in "$setup" "$win/tools/catdump/catdump.exe" "$win/wine-run.sh"; do
  [ -e "$f" ] || { echo "run.sh: $f is missing; build the tree first (make run does)" >&2; exit 1; }
done

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

winpath="Z:$(printf '%s' "$setup" | tr / '\\')"
echo "== payload catalogue of $setup, read back under Wine ($arch)"
"$win/wine-run.sh" "$win/tools/catdump/catdump.exe" "$winpath" | tr -d '\r'
status=${PIPESTATUS[0]}
echo
echo "== payload properties (tlpack)"
cat "$win/sample/payload-setup/properties.txt"
echo
ship="$build/win32/setup.exe"
[ -f "$ship" ] && echo "The shipped installer (i686): $ship, $(stat -c %s "$ship") bytes"
exit "$status"
