#!/usr/bin/env bash
# Creates the private Wine prefix of a build tree once (about 10 s).
# Usage: wine-prefix.sh PREFIX win32|win64
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh" "$1" "$2"
# Wine's shell starts its menu builder after every shortcut it saves and waits
# for it, about 20 ms a shortcut. The override in wine-env.sh already keeps it
# from writing into the host's menus; without its file the shell does not
# start it at all (Windows has no such step). Done on every call, because a
# Wine update of the prefix brings the file back.
no_menu_builder() { rm -f "$WINEPREFIX"/drive_c/windows/system32/winemenubuilder.exe \
  "$WINEPREFIX"/drive_c/windows/syswow64/winemenubuilder.exe; }
# A new prefix links the user's Desktop, Documents, Downloads, Music, Pictures
# and Videos to the host's home folder: a removal test gone wrong there would
# delete the developer's or CI's own files. Plain folders instead, as sandboxed
# prefixes have; checked on every call, so that existing prefixes (and a Wine
# update that brings the links back) are mended too. Only the links are
# removed (rm on a link never touches its target).
no_host_links() {
  local d
  for d in "$WINEPREFIX"/drive_c/users/*/{Desktop,Documents,Downloads,Music,Pictures,Videos}; do
    if [ -L "$d" ]; then rm -f "$d" && mkdir -p "$d"; fi
  done
}
if [ -f "$WINEPREFIX/.tl-ready" ]; then no_menu_builder; no_host_links; exit 0; fi
rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
"$TL_WINE" wineboot --init >/dev/null 2>&1 </dev/null
wineserver -w
# Wine draws frames itself (no window manager: hiding a managed window stalls 2 s),
# and a crash exits at once instead of waiting on a dialog.
"$TL_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null
"$TL_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
wineserver -w
[ -d "$WINEPREFIX/drive_c/windows/system32" ] || { echo "wineboot did not create $WINEPREFIX" >&2; exit 1; }
no_menu_builder
no_host_links
touch "$WINEPREFIX/.tl-ready"
