#!/usr/bin/env bash
# Runs every test: the host tree's, then the Windows tree's under Wine and Xvfb.
# Usage: test.sh BUILD_DIR WINDOWS_TREE [ctest arguments...]
#
# The i686 tree (a machine that runs 32-bit code and has Wine32) runs twice:
# in a 32-bit prefix, like 32-bit Windows, and in a 64-bit prefix, which is what
# the shipped installer meets on 64-bit Windows 7 to 11 (the Wow6432Node
# registry view, "Program Files (x86)", SysWOW64). The x86_64 tree runs once,
# in a 64-bit prefix. Each run ends with its own CTest summary under a heading.
set -u
build=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
shift 2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/headless.sh"
tree_arch=$(tl_tree_arch "$win")

# One line per run: PREFIX WINEARCH HEADING
runs=()
if [ "$tree_arch" = win32 ]; then
  runs+=("$win/wineprefix win32 i686 in a 32-bit prefix")
  if /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
    runs+=("$win/wineprefix-wow64 win64 i686 in a 64-bit prefix")
  else
    echo "== no Wine64 here: the i686 tree runs in a 32-bit prefix only"
  fi
else
  runs+=("$win/wineprefix win64 x86_64 in a 64-bit prefix")
fi
echo "== Windows tree: $(sh "$here/detect-arch.sh" --why)"

status=0
echo "== host tests"
( cd "$build/host" && ctest --output-on-failure "$@" ) || status=1

xfile="$win/xvfb.pid"
current_prefix=""
current_arch=""
stop_current() {
  [ -n "$current_prefix" ] && tl_headless_stop "$current_prefix" "$current_arch" "$xfile"
  current_prefix=""
}
trap stop_current EXIT INT TERM
for run in "${runs[@]}"; do
  read -r prefix arch heading <<<"$run"
  echo "== Windows tests under Wine: $heading"
  current_prefix=$prefix
  current_arch=$arch
  if ! tl_headless_start "$prefix" "$arch" "$xfile"; then
    status=1
    stop_current
    continue
  fi
  ( export TL_TEST_PREFIX="$prefix" TL_TEST_WINEARCH="$arch"; cd "$win" && ctest --output-on-failure "$@" ) || status=1
  stop_current
done
exit $status
