# Sourced: the Wine environment for prefix $1 of architecture $2 (win32|win64).
export WINEPREFIX="$1"
export WINEARCH="${2:-win32}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No winemenubuilder: a saved Start menu shortcut would otherwise leave .desktop
# and .menu files in the host's home, outside the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ "$WINEARCH" = win64 ]; then TL_WINE=/usr/lib/wine/wine64; else TL_WINE=wine; fi
