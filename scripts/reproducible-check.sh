#!/usr/bin/env bash
# make reproducible-check: builds the current commit twice, from two clones in
# two scratch folders of different names, one after the other and without
# ccache, and compares what ships byte for byte: setup.exe, tluninstall.exe and
# their .debug files, every file of the sample tree, and the output of
# scripts/installer.sh (make installer) for one payload tree. Also checks that
# no shipped file names either build folder. Prints the SHA-256 of each file.
# Uncommitted changes are not part of the check: it builds the commit.
# KEEP=1 keeps the scratch folders.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse HEAD)
scratch=$(mktemp -d /tmp/tl-reproducible.XXXXXX)
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$scratch"' EXIT
# Every compile runs for real: a cache could hand both builds the same object.
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
export CCACHE_DISABLE=1
jobs=${JOBS:-2}

build() {  # build NAME: clone and build into $scratch/NAME
  local dir="$scratch/$1" src b
  src="$dir/src"
  b="$dir/build-$1"
  mkdir -p "$dir"
  git clone -q --shared --no-checkout "$root" "$src"
  git -C "$src" checkout -q "$commit"
  echo "== build $1 in $dir ($(date -u +%H:%M:%S) UTC)"
  make -s -C "$src" BUILD="$b" "$b/host/CMakeCache.txt" "$b/win32/CMakeCache.txt" >/dev/null
  cmake --build "$b/host" --target tlpack -j "$jobs" >"$dir/build.log" 2>&1 || { tail -20 "$dir/build.log"; return 1; }
  cmake --build "$b/win32" --target setup tluninstall -j "$jobs" >>"$dir/build.log" 2>&1 ||
    { tail -20 "$dir/build.log"; return 1; }
  if [ ! -d "$scratch/payload" ]; then
    cp -r "$b/win32/sample-tree" "$scratch/payload"
  fi
  bash "$src/scripts/installer.sh" "$b/win32" "$scratch/payload" "$dir/out/towerlink-setup.exe" >>"$dir/build.log" 2>&1 ||
    { tail -20 "$dir/build.log"; return 1; }
}

# The files compared, relative to a build's folder.
shipped() {  # shipped NAME
  local dir="$scratch/$1" b
  b="build-$1"
  (cd "$dir" && {
    echo "$b/win32/setup.exe"
    echo "$b/win32/setup.exe.debug"
    echo "$b/win32/tools/uninstaller/tluninstall.exe"
    echo "$b/win32/tools/uninstaller/tluninstall.exe.debug"
    echo "out/towerlink-setup.exe"
    find "$b/win32/sample-tree" -type f | LC_ALL=C sort
  })
}

build a
build b

status=0
mapfile -t files < <(shipped a)
echo
echo "== SHA-256 of the first build; the second build's file compared"
for f in "${files[@]}"; do
  one="$scratch/a/$f"
  two="$scratch/b/${f//build-a/build-b}"
  sum=$(sha256sum "$one" | cut -d' ' -f1)
  if [ ! -f "$two" ]; then
    echo "DIFFERENT $f: missing from the second build"
    status=1
  elif cmp -s "$one" "$two"; then
    printf 'same %s  %s\n' "$sum" "${f#build-a/}"
  else
    echo "DIFFERENT ${f#build-a/}: $(cmp "$one" "$two" | head -1)"
    status=1
  fi
done
count=$(shipped b | wc -l)
if [ "$count" != "${#files[@]}" ]; then
  echo "DIFFERENT: the first build has ${#files[@]} files, the second $count"
  status=1
fi

echo
echo "== build folders named in shipped files (.debug files may keep source names)"
for f in "${files[@]}"; do
  case "$f" in *.debug) continue ;; esac
  for name in "$scratch" "$root"; do
    if grep -qaF "$name" "$scratch/a/$f"; then
      echo "PATH $f names $name"
      status=1
    fi
  done
done
[ $status -eq 0 ] && echo "none"

echo
if [ $status -eq 0 ]; then
  echo "reproducible: ${#files[@]} files byte-identical in two builds of $commit"
else
  echo "NOT reproducible: see the lines above (KEEP=1 keeps $scratch)"
fi
exit $status
