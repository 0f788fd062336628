#!/usr/bin/env bash
# make installer PAYLOAD=DIR [OUT=FILE] [SIGN_PFX=cert.pfx SIGN_PASSWORD_FILE=file [SIGN_TIMESTAMP_URL=url]]:
# an i686 setup program around any product tree (without PAYLOAD: the sample
# tree). The tree is checked by the packer; a tree it cannot pack fails with the
# packer's message naming the file.
# Usage: installer.sh WIN32_TREE PAYLOAD_DIR|"" OUT_FILE
#
# Signing (SIGN_PFX set, from the environment): Authenticode with SHA-256 by
# scripts/sign.sh; the password is read from SIGN_PASSWORD_FILE by osslsigncode
# itself. Without SIGN_PFX the output is the build's file, byte for byte.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tree=$1
payload=${2:-}
out=$3
[ -f "$tree/CMakeCache.txt" ] || { echo "installer.sh: $tree is not a configured build tree (run make win32)" >&2; exit 1; }
if [ -n "${SIGN_PFX:-}" ]; then
  # Refused before the build, not after it.
  [ -f "$SIGN_PFX" ] || { echo "installer.sh: SIGN_PFX=$SIGN_PFX is not a file" >&2; exit 1; }
  [ -n "${SIGN_PASSWORD_FILE:-}" ] && [ -f "$SIGN_PASSWORD_FILE" ] ||
    { echo "installer.sh: SIGN_PFX needs SIGN_PASSWORD_FILE, a file that holds the certificate's password" >&2; exit 1; }
fi
# Windows Vista and later elevate a program without an execution level in its
# manifest only for these words in its file name (installer detection).
case "$(basename "$out" | tr 'A-Z' 'a-z')" in
  *setup*|*install*|*update*) ;;
  *) echo "installer.sh: warning: $(basename "$out") lacks \"setup\", \"install\" or \"update\" in its name: Windows will not run it as administrator, and it will install into the user's VirtualStore" >&2 ;;
esac
if [ -z "$payload" ]; then
  cmake --build "$tree" --target setup -j 2
  built="$tree/setup.exe"
else
  if [ ! -d "$payload" ]; then
    echo "installer.sh: PAYLOAD=$payload is not a folder (it holds tl/tl, tl/global, tl/fs, fs/modules, fs/aircraft)" >&2
    exit 1
  fi
  payload=$(cd "$payload" && pwd)
  cmake -S "$(cd "$here/.." && pwd)" -B "$tree" -DTL_CUSTOM_PAYLOAD="$payload" >/dev/null
  if ! cmake --build "$tree" --target setup_custom -j 2; then
    echo "installer.sh: no installer built from $payload (see the packer's message above)" >&2
    exit 1
  fi
  built="$tree/setup-custom.exe"
fi
mkdir -p "$(dirname "$out")"
if [ -n "${SIGN_PFX:-}" ]; then
  bash "$here/sign.sh" "$built" "$out"
else
  cp "$built" "$out"
fi
# The debug information stays beside the build's file: $built.debug.
echo "installer: $out ($(stat -c %s "$out") bytes)"
