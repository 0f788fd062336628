#!/usr/bin/env bash
# make run: the installer wizard under Wine with the sample payload.
#  - With a display (DISPLAY set and answering, and not CI): opens the real
#    wizard in the tree's Wine prefix, for a person to click through.
#  - Without one: starts Xvfb, drives a complete SameComputer installation
#    for Flight Simulator 2004 and X through the real wizard with the
#    end-to-end driver (simulator keys and folders prepared in the prefix as
#    Flight Simulator leaves them), saves a screenshot of every page under
#    BUILD/screens/, prints what was installed where, and leaves the prefix as
#    it found it.
# Both use a prefix of their own (WINDOWS_TREE/wineprefix-run), never the
# tests' one. A run that did not end with that prefix clean (interrupted, a
# failure, or a person's own tries in the wizard) leaves it without its
# ".tl-run-clean" mark, and the next run starts from a fresh prefix instead of
# refusing to run; it says so in one line.
# Usage: run.sh BUILD_DIR WINDOWS_TREE
set -u
build=$(cd "$1" && pwd) || exit 1
win=$(cd "$2" && pwd) || exit 1
here=$(cd "$(dirname "$0")" && pwd)
prefix="$win/wineprefix-run"
. "$here/headless.sh"
arch=$(tl_tree_arch "$win")
clean_mark="$prefix/.tl-run-clean"
if [ -d "$prefix" ] && [ ! -f "$clean_mark" ]; then
  echo "== the earlier run's prefix may hold an installation (an interrupted run or a manual try): starting from a fresh prefix"
  "$here/wine-session.sh" stop "$prefix" "$arch"
  rm -rf "$prefix"
fi
# wine-run.sh runs every program of the tree in this prefix.
export TL_TEST_PREFIX="$prefix" TL_TEST_WINEARCH="$arch"
setup="$win/setup.exe"
driver="$win/tests/e2e/wizard_e2e.exe"
scenario="WizardEndToEnd.SameComputerWithFs2004AndFsx"
for f in "$setup" "$win/wine-run.sh"; do
  [ -e "$f" ] || { echo "run.sh: $f is missing; build the tree first (make run does)" >&2; exit 1; }
done

display_answers() {
  [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ] && xdpyinfo -display "$DISPLAY" >/dev/null 2>&1
}

if display_answers; then
  "$here/wine-prefix.sh" "$prefix" "$arch" || { echo "could not create the Wine prefix" >&2; exit 1; }
  echo "== the TowerLink Setup wizard on $DISPLAY (prefix $prefix)"
  rm -f "$clean_mark"  # what a person installs stays there
  exec "$win/wine-run.sh" "$setup"
fi

[ -e "$driver" ] || { echo "run.sh: $driver is missing; build the tree first (make run does)" >&2; exit 1; }
xfile="$win/xvfb-run.pid"
shots="$build/screens"
watcher=""
cleanup() {
  [ -n "$watcher" ] && kill "$watcher" 2>/dev/null
  tl_headless_stop "$prefix" "$arch" "$xfile"
}
trap cleanup EXIT INT TERM
tl_headless_start "$prefix" "$arch" "$xfile" || exit 1
"$here/wine-session.sh" start "$prefix" "$arch"

mkdir -p "$shots"
rm -f "$shots"/*.png "$shots"/*.bmp "$shots"/*.request
# The driver leaves NAME.request in the folder each time a page appears and
# waits until it is gone; this loop takes the picture, then removes it.
(
  while :; do
    for request in "$shots"/*.request; do
      [ -e "$request" ] || continue
      name=$(basename "$request" .request)
      sleep 0.2  # let the page paint
      import -window root -display "$DISPLAY" "$shots/$name.png" >/dev/null 2>&1
      rm -f "$request"
    done
    sleep 0.02
  done
) &
watcher=$!

echo "== driving the wizard of $setup on $DISPLAY ($arch)"
rm -f "$clean_mark"
TL_E2E_SCREENS="$shots" TL_E2E_REPORT=1 "$win/wine-run.sh" "$driver" --gtest_filter="$scenario" 2>&1 | tr -d '\r'
status=${PIPESTATUS[0]}
# The scenario puts the prefix back as it found it only when it passes.
[ "$status" -eq 0 ] && touch "$clean_mark"
# Pictures the driver took itself (a page too short-lived for the loop).
for bitmap in "$shots"/*.bmp; do
  [ -e "$bitmap" ] || continue
  convert "$bitmap" "${bitmap%.bmp}.png" && rm -f "$bitmap"
done
echo
echo "== screenshots in $shots"
ls -1 "$shots"/*.png 2>/dev/null | sed 's|^|    |'
ship="$build/win32/setup.exe"
[ -f "$ship" ] && echo "The shipped installer (i686): $ship, $(stat -c %s "$ship") bytes"
exit "$status"
