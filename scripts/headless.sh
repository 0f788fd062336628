# Sourced by the scripts that run a Windows tree under Wine without a person
# at the screen (test.sh, run.sh, bench.sh): Xvfb on a free display, the tree's
# Wine prefix, and the tear-down that ends both.
#   tl_tree_arch WINDOWS_TREE       prints the tree's Wine architecture
#   tl_headless_start PREFIX ARCH XFILE
#                                   starts Xvfb (PID file XFILE), exports
#                                   DISPLAY, records it beside the prefix and
#                                   creates the prefix once
#   tl_headless_stop PREFIX ARCH XFILE
#                                   ends the prefix's wineserver and that Xvfb
tl_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

tl_tree_arch() {
  local arch
  arch=$(sed -n 's/^TL_WINEARCH:[A-Z]*=//p' "$1/CMakeCache.txt")
  echo "${arch:-win32}"
}

tl_headless_start() {
  local display
  "$tl_here/xvfb.sh" start "$3" || return 1
  read -r display _ < "$3"
  export DISPLAY="$display"
  echo "$display" > "$1.display"
  "$tl_here/wine-prefix.sh" "$1" "$2" || { echo "could not create the Wine prefix" >&2; return 1; }
}

tl_headless_stop() {
  ( . "$tl_here/wine-env.sh" "$1" "$2"; wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1 ) || true
  "$tl_here/xvfb.sh" stop "$3"
  rm -f "$1.display"
}
