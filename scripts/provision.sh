#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Run as root (make does this); otherwise prints the command to run.
#
# A mirror is now and then caught mid-sync: one index of `apt-get update` has
# the wrong size, or the i386 libraries lag behind the amd64 ones. Neither may
# stop a build that every required package can still serve, so:
#   - the indexes are updated once, and a failed index is reported and passed;
#   - the required set is installed, and tried once more after a failure;
#   - Wine32 is an optional step of its own, tried once more against the
#     point release when the i386 libraries lag; without it the x86_64 build
#     is the one tested, as on a kernel that cannot run 32-bit code;
#   - with --emulation, the emulator for make test-i686-emulated is a further
#     optional step (below): a failure says so in one line and changes
#     nothing else;
#   - the script fails only when a required package cannot be installed, and
#     names each such package.
# Usage: provision.sh [--emulation]
set -u
required=(
  cmake make g++ zlib1g-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 libz-mingw-w64-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  googletest
  wine wine64 xvfb x11-utils imagemagick
  wixl nsis icoutils osslsigncode openssl
  clang-14 libclang-rt-14-dev
  locales python3
)
optional=(wine32:i386)
# Runs the i686 programs on a kernel without IA-32 support; asked for only by
# make test-i686-emulated, never by make test. Under Debian 12's own qemu-user
# (7.2) Wine32 dies in a program that starts a second thread as it starts
# (qemu: "uncaught target signal 11"), and runs 30 to 60 times slower than
# under the qemu-user of the release's backports (10.x). That one is fetched
# through apt with a source list of its own (the archive's key checks the
# index, the index the package), and its i386 emulator alone is unpacked into
# the state folder: the machine's apt sources, packages and binfmt_misc
# entries stay as they are. Debian 12's qemu-user-static is the fallback when
# the backports cannot serve it; scripts/test-i686-emulated.sh takes the
# first of the two that is there.
emulation=()
[ "${1:-}" = --emulation ] && emulation=(qemu-user-static)
state=${TL_PROVISION_STATE:-/var/lib/towerlink-provision}
backports_emulator=$state/qemu-user/usr/bin/qemu-i386
need_backports=0
if [ ${#emulation[@]} -gt 0 ] && [ ! -x "$backports_emulator" ]; then need_backports=1; fi
# Code page 932 under Wine comes from this Unix locale.
locale_name=ja_JP.UTF-8

say() { echo "provision: $*" >&2; }
installed() { dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q '^install ok installed'; }
missing_of() { local p; for p in "$@"; do installed "$p" || echo "$p"; done; }
have_locale() { locale -a 2>/dev/null | tr 'A-Z' 'a-z' | sed 's/-//g' | grep -qx 'ja_jp.utf8'; }

mapfile -t missing < <(missing_of "${required[@]}")
mapfile -t missing_opt < <(missing_of "${optional[@]}")
mapfile -t missing_emu < <(missing_of "${emulation[@]}")
need_i386=0
dpkg --print-foreign-architectures 2>/dev/null | grep -qx i386 || need_i386=1
need_locale=0
have_locale || need_locale=1

# Wine32 that could not be had is tried again at most every six hours, so that
# each make call does not pay for an update that cannot help.
stamp=$state/wine32-unavailable
if [ ${#missing_opt[@]} -gt 0 ] && [ -n "$(find "$stamp" -mmin -360 2>/dev/null)" ]; then
  missing_opt=()
fi

[ $need_backports -eq 0 ] && [ ${#emulation[@]} -gt 0 ] && missing_emu=()
if [ ${#missing[@]} -eq 0 ] && [ ${#missing_opt[@]} -eq 0 ] && [ ${#missing_emu[@]} -eq 0 ] &&
   [ $need_i386 -eq 0 ] && [ $need_locale -eq 0 ] && [ $need_backports -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  say "missing packages: ${missing[*]} ${missing_opt[*]} ${missing_emu[*]}"
  [ $need_backports -eq 1 ] && say "and, as root, once more to fetch the emulator from the backports"
  say "run as root: dpkg --add-architecture i386 && apt-get update && apt-get install -y ${missing[*]} ${missing_opt[*]} ${missing_emu[*]}"
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
[ $need_i386 -eq 1 ] && dpkg --add-architecture i386

updated=0
update() {
  [ $updated -eq 1 ] && return 0
  updated=1
  apt-get update -qq >/tmp/towerlink-apt-update.log 2>&1 ||
    say "some package indexes could not be updated (see /tmp/towerlink-apt-update.log); going on with the rest"
}
install() { apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>&1; }

# Mid-sync, the security suite's i386 index may be missing while its amd64 one
# is there: then amd64 libraries installed from it have no i386 twin of the
# same version, and Multi-Arch: same makes Wine32 uninstallable. Both
# architectures still agree in the point release, so this tries once more
# with the point release preferred (security updates of the packages involved
# go back to the point release's version until the mirror has synced; a later
# upgrade brings them back). Accepted only when apt removes nothing for it.
install_from_point_release() {
  local codename prefs plan removed downgraded
  codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || return 1
  prefs=$(mktemp)
  printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 90\n\nPackage: *\nPin: release l=Debian,n=%s\nPin-Priority: 1001\n' \
    "$codename" > "$prefs"
  local opts=(-o "Dir::Etc::Preferences=$prefs" -y --allow-downgrades --no-install-recommends)
  plan=$(apt-get "${opts[@]}" -s install "$@" 2>&1)
  local rc=$?
  removed=$(sed -n 's/^Remv \([^ ]*\).*/\1/p' <<<"$plan" | tr '\n' ' ')
  if [ $rc -ne 0 ] || [ -n "$removed" ]; then
    [ -n "$removed" ] && say "the point release would need these removed, so it is not used: $removed"
    rm -f "$prefs"
    return 1
  fi
  downgraded=$(sed -n '/will be DOWNGRADED/,/^[^ ]/{/^  /p}' <<<"$plan" | tr -s ' \n' ' ')
  apt-get "${opts[@]}" -qq install "$@" >/dev/null 2>&1
  rc=$?
  rm -f "$prefs"
  [ $rc -eq 0 ] && [ -n "${downgraded// /}" ] && say "from the point release, until the mirror has synced:$downgraded"
  return $rc
}

if [ ${#missing[@]} -gt 0 ]; then
  update
  if ! install "${missing[@]}"; then
    say "installing the required packages failed; trying once more"
    sleep 5
    install "${missing[@]}" || true
    # What the whole set could not do, each package may still do alone.
    mapfile -t still < <(missing_of "${missing[@]}")
    for p in "${still[@]}"; do install "$p" || true; done
  fi
  mapfile -t failed < <(missing_of "${missing[@]}")
  if [ ${#failed[@]} -gt 0 ]; then
    for p in "${failed[@]}"; do say "cannot install the required package $p"; done
    exit 1
  fi
  # The posix thread model is the one the project builds with.
  update-alternatives --set i686-w64-mingw32-g++ /usr/bin/i686-w64-mingw32-g++-posix >/dev/null 2>&1 || true
  update-alternatives --set i686-w64-mingw32-gcc /usr/bin/i686-w64-mingw32-gcc-posix >/dev/null 2>&1 || true
  say "installed: ${missing[*]}"
fi

if [ ${#missing_opt[@]} -gt 0 ]; then
  update
  if install "${missing_opt[@]}" || install_from_point_release "${missing_opt[@]}"; then
    rm -f "$stamp"
    say "installed: ${missing_opt[*]}"
  else
    mkdir -p "$(dirname "$stamp")" && touch "$stamp"
    say "Wine32 (${missing_opt[*]}) cannot be installed from this mirror now; the x86_64 build is the one tested"
  fi
fi

# qemu-user from the backports of this release, unpacked into $state/qemu-user.
fetch_backports_emulator() {
  local codename uri work rc
  codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || return 1
  uri=${TL_BACKPORTS_URI:-$(sed -n 's/^URIs: *\([^ ]*\/debian\)\/* *$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)}
  uri=${uri:-http://deb.debian.org/debian}
  work=$(mktemp -d) || return 1
  mkdir -p "$work/parts" "$work/lists/partial" "$work/archives/partial"
  printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uri" "$codename" > "$work/parts/backports.sources"
  local opts=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$work/parts"
              -o "Dir::State::Lists=$work/lists" -o "Dir::Cache::Archives=$work/archives"
              -o "APT::Architectures=amd64" -qq)
  (cd "$work" && apt-get "${opts[@]}" update >"$work/log" 2>&1 &&
     apt-get "${opts[@]}" download "qemu-user/$codename-backports" >>"$work/log" 2>&1 &&
     dpkg-deb -x qemu-user_*.deb unpacked &&
     rm -rf "$state/qemu-user.new" && mkdir -p "$state/qemu-user.new/usr/bin" &&
     cp unpacked/usr/bin/qemu-i386 "$state/qemu-user.new/usr/bin/" &&
     "$state/qemu-user.new/usr/bin/qemu-i386" --version >/dev/null)
  rc=$?
  if [ $rc -eq 0 ]; then
    rm -rf "$state/qemu-user" && mv "$state/qemu-user.new" "$state/qemu-user" || rc=1
  else
    rm -rf "$state/qemu-user.new"
  fi
  rm -rf "$work"
  return $rc
}

if [ $need_backports -eq 1 ]; then
  mkdir -p "$state"
  if fetch_backports_emulator; then
    say "emulator: $("$backports_emulator" --version | head -n 1) from the backports, in $state/qemu-user"
    missing_emu=()
  else
    say "the backports cannot serve qemu-user now; Debian 12's qemu-user-static is the emulator"
  fi
fi

if [ ${#missing_emu[@]} -gt 0 ]; then
  update
  if install "${missing_emu[@]}"; then
    say "installed: ${missing_emu[*]}"
  else
    say "the emulator (${missing_emu[*]}) cannot be installed from this mirror now; the i686 tree cannot be run emulated"
  fi
fi

if ! have_locale; then
  localedef -i ja_JP -f UTF-8 "$locale_name" >/dev/null 2>&1 || true
  if ! have_locale; then
    say "cannot generate the locale $locale_name (package locales)"
    exit 1
  fi
fi
exit 0
