#!/usr/bin/env bash
# The benchmarks: figures and ratios, never pass or fail on time.
# Usage: bench.sh BUILD_DIR WINDOWS_TREE
#   ROUNDS (default 5) interleaved rounds, HEAVY (default 3) runs of the
#   heaviest installation. The full-size data is generated and packed once and
#   cached in WINDOWS_TREE/bench/install.
set -u
build=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
rounds=${ROUNDS:-5}
heavy=${HEAVY:-3}
prefix="$win/wineprefix"
. "$here/headless.sh"
arch=$(tl_tree_arch "$win")
xfile="$win/xvfb-bench.pid"

command -v makensis >/dev/null || { echo "bench: makensis missing (package nsis)" >&2; exit 1; }

status=0
echo "== installation benchmark: data (generated once, cached)"
cmake --build "$win" --target bench_install -j 2 >/dev/null || { echo "bench: build failed" >&2; exit 1; }
data="$win/bench/install"

trap 'tl_headless_stop "$prefix" "$arch" "$xfile"' EXIT INT TERM
tl_headless_start "$prefix" "$arch" "$xfile" || exit 1

# Every other benchmark folder has a target bench_<folder> and one program
# that takes no arguments and prints its own figures.
. "$here/wine-env.sh" "$prefix" "$arch"
wineserver -p >/dev/null 2>&1 </dev/null
for dir in "$here"/../bench/*/; do
  name=$(basename "$dir")
  [ "$name" = install ] && continue
  [ -f "$dir/CMakeLists.txt" ] || continue
  echo
  echo "== $name benchmark"
  if ! cmake --build "$win" --target "bench_$name" -j 2 >/dev/null 2>&1; then
    echo "(not built: no target bench_$name in this tree)"
    continue
  fi
  for exe in "$win/bench/$name"/*.exe; do
    [ -f "$exe" ] && { "$win/wine-run.sh" "$exe" || status=1; }
  done
done

echo
echo "== the payload: packed synthetic tree beside the shipped payload"
props="$data/payload-bench_install_payload/properties.txt"
printf '%-48s %s\n' "shipped payload" "this benchmark's payload"
paste -d '|' <(printf '%s\n' \
  "entries 1325" "chunks 429 (64 KiB)" "stream bytes 28,085,940" "uncompressed 198,940,535" \
  "largest file 4,468,736 (tlimage.dll)" "largest stream 1,985,535 (simconnect.msi)" \
  "streams crossing a chunk boundary 320" "most chunks touched by one stream 31") \
  <(sed -n 's/^\(entries\|payload chunks\|payload stream length\|sum of all uncompressedSize values\|largest file\|largest stream\|streams that cross at least one chunk boundary\|most chunks touched by one stream\) *//p' "$props") |
  while IFS='|' read -r ref ours; do printf '%-48s %s\n' "$ref" "$ours"; done

echo
echo "== installation: worker (a), limit (b), NSIS peer (c)"
echo "Wine64 runs the x86_64 build of the same sources (this kernel cannot run 32-bit code);"
echo "the NSIS peer is built with 'Target amd64-unicode' so that it is 64-bit too."
winpath() { echo "Z:$1" | sed 's|/|\\|g'; }
"$win/wine-run.sh" "$data/install_bench.exe" \
  --payload "$(winpath "$data/bench_install_payload.dll")" \
  --nsis "$(winpath "$data/data/nsis_peer.exe")" \
  --nsis-empty "$(winpath "$data/data/nsis_empty.exe")" \
  --out 'C:\tlbench' --rounds "$rounds" --heavy "$heavy" --breakdown || status=1
exit $status
