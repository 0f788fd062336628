#!/usr/bin/env bash
# Runs every test: the host tree's, then the Windows tree's under Wine and Xvfb.
# Usage: test.sh BUILD_DIR WINDOWS_TREE [ctest arguments...]
set -u
build=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
shift 2
here=$(cd "$(dirname "$0")" && pwd)
prefix="$win/wineprefix"
. "$here/headless.sh"
arch=$(tl_tree_arch "$win")
xfile="$win/xvfb.pid"

trap 'tl_headless_stop "$prefix" "$arch" "$xfile"' EXIT INT TERM
tl_headless_start "$prefix" "$arch" "$xfile" || exit 1

status=0
echo "== host tests"
( cd "$build/host" && ctest --output-on-failure "$@" ) || status=1
echo "== Windows tests under Wine ($arch)"
( cd "$win" && ctest --output-on-failure "$@" ) || status=1
exit $status
