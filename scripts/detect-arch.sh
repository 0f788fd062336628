#!/bin/sh
# Prints the Windows architecture whose programs Wine can run on this machine:
# i686 when the kernel executes 32-bit code (Wine32 works), else x86_64.
if /lib/ld-linux.so.2 --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo i686
else
  echo x86_64
fi
