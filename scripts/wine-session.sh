#!/usr/bin/env bash
# start|stop PREFIX ARCH: one persistent wineserver for a whole test run.
# TL_TEST_PREFIX and TL_TEST_WINEARCH, when set, name the prefix instead.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh" "${TL_TEST_PREFIX:-$2}" "${TL_TEST_WINEARCH:-${3:-win32}}"
[ -n "${DISPLAY:-}" ] || [ ! -f "$WINEPREFIX.display" ] || export DISPLAY="$(cat "$WINEPREFIX.display")"
case "$1" in
  start)
    wineserver -p >/dev/null 2>&1 </dev/null
    "$TL_WINE" cmd /c exit >/dev/null 2>&1 </dev/null
    exit 0 ;;
  stop)
    wineserver -k >/dev/null 2>&1 </dev/null
    wineserver -w >/dev/null 2>&1 </dev/null
    exit 0 ;;
esac
exit 2
