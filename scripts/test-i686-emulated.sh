#!/usr/bin/env bash
# make test-i686-emulated: the shipped i686 tree's end-to-end scenarios and
# round trips on a kernel without IA-32 support, where make test can run only
# the x86_64 build. 32-bit x86 programs are handed to qemu-user through a
# binfmt_misc entry (scripts/i386-emulation.sh); the prefix is a 64-bit one,
# as on 64-bit Windows 7 to 11, so that wine64, wineserver and the prefix's
# services run natively and only the 32-bit programs (setup.exe, the
# uninstaller, the test driver, msiexec from SysWOW64, notepad) are emulated.
#
# binfmt_misc entries are seen by every process of the machine, and other
# builds on it must not start emulating their 32-bit programs (Wine's prefix
# set-up runs one) for as long as this runs. Where the kernel gives each user
# namespace its own binfmt_misc (Linux 6.7 and later), the run happens in a
# namespace of its own and the entry is seen by its processes alone and ends
# with them; elsewhere the entry is the machine's. Either way it is removed on
# every way out, and a machine-wide one left behind at the start of the next run.
# Usage: test-i686-emulated.sh BUILD_DIR I686_TREE [ctest arguments...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/headless.sh"

# The tests. With the backports' qemu-user (10.x) the whole Windows suite of
# the i686 tree runs: 61 tests in 8 minutes on two cores (11 beside a build),
# the full-size soak the longest at 2.5 to 4. Debian 12's own (7.2), the
# fallback, is 30 to 60 times slower with Wine and dies when a program's
# second thread starts as it starts: with it, only the ProductOnly scenario
# and its round trip run (5-8 and 6-7 minutes). TL_EMULATED_TESTS (a CTest -R
# regex) overrides either.
all_tests='.'
few_tests='^(e2e_ProductOnlyRunsSimConnectInstaller|roundtrip_RoundTrip_ProductOnly)$'
# Emulated, the programs are several times slower than the tests' waits and
# time limits allow: both are stretched by this factor.
factor=6

say() { echo "== $*"; }
fail() { echo "test-i686-emulated: $*" >&2; exit 1; }

# Waits for a job in the background, so that a signal ends the run at once
# instead of after the job: a trap runs only between commands.
job=
run_job() { "$@" & job=$!; wait "$job"; local rc=$?; job=; return $rc; }
end_job() { [ -z "$job" ] || { kill -TERM "$job" 2>/dev/null; wait "$job" 2>/dev/null; job=; }; }

# The run itself, in its own namespace where there is one: register, run the tests.
if [ "${1:-}" = --inside ]; then
  shift
  win=$1
  shift
  # Every run starts from a copy of a prefix made once: a run cut short (a
  # time limit, a signal) leaves an installation behind, and making a prefix
  # again takes minutes emulated.
  base=$win/wineprefix-emulated-base
  prefix=$win/wineprefix-emulated
  xfile=$win/xvfb-emulated.pid
  started=0
  finish() {
    end_job
    [ $started -eq 1 ] && tl_headless_stop "$prefix" win64 "$xfile"
    started=0
    "$here/i386-emulation.sh" unregister
  }
  trap finish EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  "$here/i386-emulation.sh" register || exit 1
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 || fail "the emulator does not run 32-bit programs"
  # Never by accident: with the entry in place, the other targets still choose x86_64.
  [ "$(sh "$here/detect-arch.sh")" = x86_64 ] || fail "detect-arch.sh takes the emulator for a kernel that runs 32-bit code"
  say "$(sh "$here/detect-arch.sh" --why)"
  say "Windows tests under Wine: i686 in a 64-bit prefix, 32-bit programs emulated (qemu-user)"
  started=1
  if [ ! -f "$base/.tl-ready" ]; then
    say "making the emulated runs' Wine prefix (once; minutes, emulated)"
    run_job tl_headless_start "$base" win64 "$xfile" || exit 1
    tl_headless_stop "$base" win64 "$xfile"
  fi
  rm -rf "$prefix" && cp -a "$base" "$prefix" || fail "cannot copy $base"
  run_job tl_headless_start "$prefix" win64 "$xfile" || exit 1
  export DISPLAY
  export TL_TEST_PREFIX="$prefix" TL_TEST_WINEARCH=win64 TL_TEST_TIME_FACTOR=$factor
  cd "$win" || exit 1
  run_job ctest --output-on-failure -R "$TL_EMULATED_TESTS" "$@"
  exit $?
fi

build=$(cd "$1" && pwd) || exit 1
win=$(cd "$2" && pwd) || exit 1
shift 2
[ "$(id -u)" = 0 ] || fail "binfmt_misc needs root"
[ "$(tl_tree_arch "$win")" = win32 ] || fail "$win is not an i686 tree"

# What an interrupted run left behind goes first, so that detect-arch sees the kernel alone.
"$here/i386-emulation.sh" unregister || exit 1
if [ "$(sh "$here/detect-arch.sh")" = i686 ]; then
  say "this kernel runs 32-bit code: make test already runs the i686 tree (in a 32-bit and a 64-bit prefix); nothing to do"
  exit 0
fi
bash "$here/provision.sh" --emulation || exit 1
[ -x /usr/lib/wine/wine ] || fail "Wine32 (wine32:i386) is not installed"
# The emulator provisioning fetched from the backports, else Debian 12's own.
emulator=${TL_QEMU_I386:-}
if [ -z "$emulator" ]; then
  for candidate in "${TL_PROVISION_STATE:-/var/lib/towerlink-provision}/qemu-user/usr/bin/qemu-i386" \
                   /usr/bin/qemu-i386-static; do
    [ -x "$candidate" ] && { emulator=$candidate; break; }
  done
fi
[ -n "$emulator" ] && [ -x "$emulator" ] || fail "no emulator: neither qemu-user from the backports nor qemu-user-static is there"
export TL_QEMU_I386=$emulator
version=$("$emulator" --version | head -n 1)
say "emulator: $emulator ($version)"
major=$(sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p' <<<"$version")
if [ -z "${TL_EMULATED_TESTS:-}" ]; then
  if [ "${major:-0}" -ge 8 ]; then tests=$all_tests; else tests=$few_tests; fi
else
  tests=$TL_EMULATED_TESTS
fi
export TL_EMULATED_TESTS=$tests
say "tests: -R '$tests'"

cmake -DTL_TEST_TIME_FACTOR=$factor "$win" >/dev/null || fail "cannot configure $win"

# A namespace of the run's own, when binfmt_misc can be mounted in one.
ns=(unshare --user --map-root-user --mount --propagation private)
if "${ns[@]}" sh -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc' 2>/dev/null; then
  say "binfmt_misc entry: in this run's own user namespace"
  inner=("${ns[@]}" sh -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc && exec "$@"' sh)
else
  say "binfmt_misc entry: machine-wide (this kernel has no binfmt_misc per user namespace)"
  inner=()
fi
trap 'end_job; "$here/i386-emulation.sh" unregister' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
start=$(date +%s)
run_job "${inner[@]}" bash "$0" --inside "$win" "$@"
status=$?
say "emulated run: $(( $(date +%s) - start )) s"
exit $status
