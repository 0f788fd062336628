#!/bin/sh
# Prints the Windows architecture whose programs Wine can run on this machine:
# i686 when the kernel executes 32-bit code (Wine32 works), else x86_64.
# With --why, prints instead one line saying why that tree is the one tested.
can_run_32() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
has_wine32() { [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; }
if can_run_32 && has_wine32; then
  arch=i686
  why="this machine runs 32-bit code and has Wine32: the shipped i686 build is tested"
elif [ -e /lib/ld-linux.so.2 ] && ! can_run_32; then
  arch=x86_64
  why="this kernel cannot run 32-bit code: the x86_64 build of the same sources is tested under Wine64"
elif [ ! -e /lib/ld-linux.so.2 ] || ! [ -x /usr/lib/wine/wine ]; then
  arch=x86_64
  why="Wine32 is not installed (it could not be provisioned): the x86_64 build of the same sources is tested under Wine64"
else
  arch=x86_64
  why="Wine32 does not start here: the x86_64 build of the same sources is tested under Wine64"
fi
if [ "${1:-}" = --why ]; then echo "$why"; else echo "$arch"; fi
