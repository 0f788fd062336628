#!/usr/bin/env bash
# Provisioning against stand-in apt-get, apt-cache, dpkg and dpkg-query (and
# the few other commands it calls), placed first in PATH: a mirror with a
# broken index, a package that fails once, one that never installs.
# Usage: provision_test.sh PROVISION_SCRIPT
set -u
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin=$work/bin
mkdir -p "$bin"

stand_in() { printf '#!/usr/bin/env bash\nS=$TL_STANDIN\n%s\n' "$2" > "$bin/$1"; chmod +x "$bin/$1"; }
# $S/installed/NAME marks an installed package; $S/broken lists packages that
# never install, $S/flaky those whose first try fails; $S/calls logs apt-get.
stand_in dpkg-query '[ -e "$S/installed/${@: -1}" ] && echo "install ok installed"; exit 0'
stand_in dpkg 'case "$1" in --print-foreign-architectures) [ -e "$S/i386" ] && echo i386;; --add-architecture) touch "$S/i386";; esac; exit 0'
stand_in apt-cache 'exit 0'
stand_in apt-get '
echo "$*" >> "$S/calls"
for a in "$@"; do [ "$a" = update ] && { [ -e "$S/update-fails" ] && { echo "E: File has unexpected size. Mirror sync in progress?" >&2; exit 100; }; exit 0; }; done
for a in "$@"; do [ "$a" = download ] && { [ -e "$S/backports" ] || exit 100; touch qemu-user_10.deb; exit 0; }; done
pkgs=(); pinned=0; sim=0; skip=0
for a in "$@"; do
  [ $skip -eq 1 ] && { skip=0; case "$a" in Dir::Etc::Preferences=*) pinned=1;; esac; continue; }
  case "$a" in -o) skip=1;; -s) sim=1;; -*|install) ;; *) pkgs+=("$a");; esac
done
if [ $sim -eq 1 ]; then
  [ -e "$S/pinned-removes" ] && echo "Remv wine64 [8.0]"
  printf "The following packages will be DOWNGRADED:\n  libgstreamer-plugins-base1.0-0\n0 upgraded\n"; exit 0
fi
for p in "${pkgs[@]}"; do
  grep -qx -- "$p" "$S/broken" 2>/dev/null && exit 100
  [ $pinned -eq 0 ] && grep -qx -- "$p" "$S/lagging" 2>/dev/null && exit 100
  if grep -qx -- "$p" "$S/flaky" 2>/dev/null && [ ! -e "$S/tried-$p" ]; then touch "$S/tried-$p"; exit 100; fi
done
for p in "${pkgs[@]}"; do touch "$S/installed/$p"; done; exit 0'
stand_in dpkg-deb 'mkdir -p "$3/usr/bin" && printf "#!/bin/sh\necho qemu-i386 version 10.0.2\n" > "$3/usr/bin/qemu-i386" && chmod +x "$3/usr/bin/qemu-i386"'
stand_in locale '[ -e "$S/locale" ] && echo ja_JP.utf8; exit 0'
stand_in localedef 'touch "$S/locale"'
stand_in update-alternatives 'exit 0'
stand_in sleep 'exit 0'
stand_in id 'echo 0'

required=$(sed -n '/^required=(/,/^)/p' "$script" | sed '1d;$d' | tr -s ' \n' '\n' | sed '/^$/d')

failures=0
# name | setup | expected exit (0 or nonzero) | text the output must hold | text it must not hold
# [| the script's arguments]
check() {
  local name=$1 setup=$2 expect=$3 must=$4 mustnot=$5 args=${6:-}
  local S=$work/state-$name
  rm -rf "$S"; mkdir -p "$S/installed" "$S/prov"
  ( cd "$S" && eval "$setup" )
  local out rc
  out=$(TL_STANDIN=$S TL_PROVISION_STATE=$S/prov PATH="$bin:$PATH" bash "$script" $args 2>&1)
  rc=$?
  local ok=1
  if [ "$expect" = 0 ]; then [ $rc -eq 0 ] || ok=0; else [ $rc -ne 0 ] || ok=0; fi
  [ -z "$must" ] || grep -qF -- "$must" <<<"$out" || ok=0
  [ -z "$mustnot" ] || ! grep -qF -- "$mustnot" <<<"$out" || ok=0
  if [ "$expect" = 0 ]; then
    for p in $required; do [ -e "$S/installed/$p" ] || { ok=0; out+=$'\n'"(not installed: $p)"; }; done
  fi
  if [ $ok -eq 1 ]; then echo "ok   $name"; else
    echo "FAIL $name: exit $rc (expected $expect)"; sed 's/^/     | /' <<<"$out"
    [ -f "$S/calls" ] && sed 's/^/     apt-get /' "$S/calls"
    failures=$((failures + 1))
  fi
}

all_installed='for p in '"$(echo $required)"'; do touch installed/$p; done; touch i386 locale'
check broken-index-and-no-wine32 'touch update-fails; echo wine32:i386 > broken' 0 \
  "the x86_64 build is the one tested" ""
check required-package-fails 'echo wixl > broken' 1 "cannot install the required package wixl" \
  "cannot install the required package cmake"
check transient-failure-retried 'echo nsis > flaky' 0 "trying once more" "cannot install"
check nothing-to-do "$all_installed; touch installed/wine32:i386" 0 "" "installed:"
check wine32-not-retried-soon "$all_installed; mkdir -p prov; touch prov/wine32-unavailable" 0 "" "Wine32"
check wine32-retried-later "$all_installed; mkdir -p prov; touch -d '7 hours ago' prov/wine32-unavailable" 0 \
  "installed: wine32:i386" ""
check wine32-from-the-point-release "$all_installed; echo wine32:i386 > lagging" 0 \
  "until the mirror has synced: libgstreamer-plugins-base1.0-0" "x86_64 build"
check point-release-not-used-when-it-removes "$all_installed; echo wine32:i386 > lagging; touch pinned-removes" 0 \
  "would need these removed, so it is not used: wine64" "installed: wine32"
check locale-generated "$all_installed; touch installed/wine32:i386; rm locale" 0 "" "cannot generate"

# The emulator only when asked for, and a mirror without it fails nothing.
# The backports' emulator first, Debian 12's as the fallback.
check emulator-on-request "$all_installed; touch installed/wine32:i386; touch backports" 0 \
  "emulator: qemu-i386 version 10.0.2 from the backports" "qemu-user-static" --emulation
check emulator-already-fetched "$all_installed; touch installed/wine32:i386; mkdir -p prov/qemu-user/usr/bin; \
  touch prov/qemu-user/usr/bin/qemu-i386; chmod +x prov/qemu-user/usr/bin/qemu-i386" 0 "" "emulator" --emulation
check emulator-fallback "$all_installed; touch installed/wine32:i386" 0 "installed: qemu-user-static" "" --emulation
check emulator-unavailable "$all_installed; touch installed/wine32:i386; echo qemu-user-static > broken" 0 \
  "the emulator (qemu-user-static) cannot be installed" "installed:" --emulation

echo "$(( 13 - failures )) passed, $failures failed"
[ $failures -eq 0 ]
