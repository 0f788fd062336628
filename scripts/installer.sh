#!/usr/bin/env bash
# make installer PAYLOAD=DIR [OUT=FILE]: an i686 setup program around any
# product tree (without PAYLOAD: the sample tree). The tree is checked by the
# packer; a tree it cannot pack fails with the packer's message naming the file.
# Usage: installer.sh WIN32_TREE PAYLOAD_DIR|"" OUT_FILE
set -eu
tree=$1
payload=${2:-}
out=$3
[ -f "$tree/CMakeCache.txt" ] || { echo "installer.sh: $tree is not a configured build tree (run make win32)" >&2; exit 1; }
if [ -z "$payload" ]; then
  cmake --build "$tree" --target setup -j 2
  built="$tree/setup.exe"
else
  if [ ! -d "$payload" ]; then
    echo "installer.sh: PAYLOAD=$payload is not a folder (it holds tl/tl, tl/global, tl/fs, fs/modules, fs/aircraft)" >&2
    exit 1
  fi
  payload=$(cd "$payload" && pwd)
  cmake -S "$(cd "$(dirname "$0")/.." && pwd)" -B "$tree" -DTL_CUSTOM_PAYLOAD="$payload" >/dev/null
  if ! cmake --build "$tree" --target setup_custom -j 2; then
    echo "installer.sh: no installer built from $payload (see the packer's message above)" >&2
    exit 1
  fi
  built="$tree/setup-custom.exe"
fi
mkdir -p "$(dirname "$out")"
cp "$built" "$out"
echo "installer: $out ($(stat -c %s "$out") bytes)"
