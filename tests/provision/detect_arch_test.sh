#!/usr/bin/env bash
# scripts/detect-arch.sh against stand-in 32-bit loaders: one the kernel runs
# itself (a copy of cat, which waits in open() as the loader does), one the
# kernel hands to another program (a script whose interpreter is that copy,
# as binfmt_misc hands a program to qemu), one that cannot run, none; with and
# without a Wine32 that starts.
# Usage: detect_arch_test.sh DETECT_ARCH_SCRIPT
set -u
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$(command -v cat)" "$work/native-ld"
cp "$(command -v cat)" "$work/emulator"
printf '#!%s\n' "$work/emulator" > "$work/emulated-ld"
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000' > "$work/foreign-ld"
printf '#!/bin/sh\necho wine-8.0\n' > "$work/wine32"
printf '#!/bin/sh\nexit 1\n' > "$work/wine32-broken"
chmod +x "$work"/*

failures=0
# name | loader | Wine32 loader | expected architecture | text the reason must hold
check() {
  local arch why
  arch=$(TL_LD32=$work/$2 TL_WINE32=$work/$3 sh "$script")
  why=$(TL_LD32=$work/$2 TL_WINE32=$work/$3 sh "$script" --why)
  if [ "$arch" = "$4" ] && grep -qF -- "$5" <<<"$why"; then echo "ok   $1"; else
    echo "FAIL $1: $arch ($why), expected $4 ($5)"; failures=$((failures + 1))
  fi
}
check native-with-wine32     native-ld   wine32        i686   "runs 32-bit code and has Wine32"
check native-wine32-broken   native-ld   wine32-broken x86_64 "Wine32 does not start"
check native-no-wine32       native-ld   none          x86_64 "Wine32 is not installed"
check emulated               emulated-ld wine32        x86_64 "only through an emulator ($work/emulator"
check kernel-without-ia32    foreign-ld  wine32        x86_64 "this kernel cannot run 32-bit code"
check no-loader              none        wine32        x86_64 "Wine32 is not installed"
echo "$(( 6 - failures )) passed, $failures failed"
[ $failures -eq 0 ]
