#!/bin/sh
# Prints the Windows architecture whose programs Wine can run on this machine:
# i686 when the kernel itself executes 32-bit code (Wine32 works), else x86_64.
# With --why, prints instead one line saying why that tree is the one tested.
#
# A 32-bit program that runs proves nothing alone: binfmt_misc may hand it to
# an emulator (make test-i686-emulated does, and an interrupted run or another
# tool may leave such an entry behind), and Wine32 would then crawl through
# every test. So the 32-bit loader is started on a FIFO that no one writes,
# where it waits in open(), and the kernel's own record of what that process
# executes (/proc/PID/exe) decides: the loader itself, or an emulator.
#   TL_LD32, TL_WINE32   the 32-bit loader and Wine32's loader (for tests)
ld32=${TL_LD32:-/lib/ld-linux.so.2}
wine32=${TL_WINE32:-/usr/lib/wine/wine}

# Prints the file the kernel runs for a 32-bit program; nothing when none runs.
runner_of_32() {
  [ -e "$ld32" ] || return 0
  tmp=$(mktemp -d) || return 0
  mkfifo "$tmp/wait" || { rm -rf "$tmp"; return 0; }
  shell=$(readlink "/proc/$$/exe")
  "$ld32" "$tmp/wait" >/dev/null 2>&1 </dev/null &
  pid=$!
  exe=
  n=0
  while [ $n -lt 200 ]; do
    exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || { exe=; break; }
    [ "$exe" != "$shell" ] && break
    exe=
    n=$((n + 1))
    sleep 0.05
  done
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  rm -rf "$tmp"
  echo "$exe"
}
has_wine32() { [ -x "$wine32" ] && "$wine32" --version >/dev/null 2>&1; }

runner=$(runner_of_32)
if [ -n "$runner" ] && [ "$runner" = "$(readlink -f "$ld32")" ]; then
  if has_wine32; then
    arch=i686
    why="this machine runs 32-bit code and has Wine32: the shipped i686 build is tested"
  elif [ -x "$wine32" ]; then
    arch=x86_64
    why="Wine32 does not start here: the x86_64 build of the same sources is tested under Wine64"
  else
    arch=x86_64
    why="Wine32 is not installed (it could not be provisioned): the x86_64 build of the same sources is tested under Wine64"
  fi
elif [ -n "$runner" ]; then
  arch=x86_64
  why="this kernel runs 32-bit code only through an emulator ($runner, registered with binfmt_misc): the x86_64 build of the same sources is tested under Wine64"
elif [ -e "$ld32" ]; then
  arch=x86_64
  why="this kernel cannot run 32-bit code: the x86_64 build of the same sources is tested under Wine64"
else
  arch=x86_64
  why="Wine32 is not installed (it could not be provisioned): the x86_64 build of the same sources is tested under Wine64"
fi
if [ "${1:-}" = --why ]; then echo "$why"; else echo "$arch"; fi
