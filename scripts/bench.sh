#!/usr/bin/env bash
# The benchmarks: figures and ratios, never pass or fail on time; a summary
# of every ratio against its goal at the end. Fails only when a benchmark
# cannot run.
# Usage: bench.sh BUILD_DIR WINDOWS_TREE
#   ROUNDS (default 5) interleaved rounds of the installation benchmark (the
#   wizard benchmark takes ROUNDS when it is set, else its own default),
#   HEAVY (default 3) runs of the heaviest installation. The full-size data is
#   generated and packed once and cached in WINDOWS_TREE/bench/install.
#   Everything printed is kept in WINDOWS_TREE/bench/output.txt.
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

log="$win/bench/output.txt"
mkdir -p "$win/bench" && : > "$log"
# Runs a benchmark program, its output on the screen and in the log.
logged() {
  "$@" | tee -a "$log"
  return "${PIPESTATUS[0]}"
}

# The machine field of a PE file's header: i686 or x86_64 (what actually runs).
pe_machine() {
  local lfanew machine
  lfanew=$(od -An -tu4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$lfanew" ] || { echo "unknown"; return; }
  machine=$(od -An -tx2 -j $((lfanew + 4)) -N 2 "$1" 2>/dev/null | tr -d ' ')
  case "$machine" in
    014c) echo i686 ;;
    8664) echo x86_64 ;;
    *) echo "unknown ($machine)" ;;
  esac
}

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
    [ -f "$exe" ] && { logged "$win/wine-run.sh" "$exe" || status=1; }
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
# Which build ran, in which prefix, and why: read from the tree and from the
# programs themselves, not assumed.
machine=$(sh "$here/detect-arch.sh")
built=$(pe_machine "$data/install_bench.exe")
peer=$(pe_machine "$data/data/nsis_peer.exe")
peer_target=$(sed -n 's/^Target *//p' "$data/data/peer.nsi")
loader=$(sed -n 's/^exec \([^ ]*\) .*/\1/p' "$win/wine-run.sh")
if [ "$built" = i686 ]; then what="the shipped i686 build"; else what="the $built build of the same sources"; fi
echo "$what ($win) runs under $loader in the $arch prefix $prefix;"
if [ "$machine" = i686 ]; then
  echo "scripts/detect-arch.sh says i686: this kernel runs 32-bit code, so the shipped i686 build is the one to benchmark."
else
  echo "scripts/detect-arch.sh says $machine: this kernel cannot run 32-bit code, so the shipped i686 build cannot run here."
fi
[ "$machine" = "$built" ] || echo "note: this machine would benchmark the $machine build, but $win holds the $built build."
echo "the NSIS peers are built with 'Target $peer_target' ($peer programs) for this tree's prefix."
winpath() { echo "Z:$1" | sed 's|/|\\|g'; }
logged "$win/wine-run.sh" "$data/install_bench.exe" \
  --payload "$(winpath "$data/bench_install_payload.dll")" \
  --nsis "$(winpath "$data/data/nsis_peer.exe")" \
  --nsis-empty "$(winpath "$data/data/nsis_empty.exe")" \
  --out 'C:\tlbench' --rounds "$rounds" --heavy "$heavy" --breakdown || status=1

# One summary: every ratio of this run beside its goal. A figure that misses
# its goal is reported, never a failure.
figure() { sed -n "s/^$1: *\([0-9.]*\).*/\1/p" "$log" | tail -n 1; }
row() {  # name value goal-operator goal
  local verdict
  if [ -z "$2" ]; then
    verdict="not measured"
  elif [ -z "$3" ]; then
    verdict="(no goal)"
  elif awk -v v="$2" -v g="$4" -v op="$3" 'BEGIN { exit !((op == "<=" && v + 0 <= g + 0) || (op == "<" && v + 0 < g + 0)) }'; then
    verdict="met"
  else
    verdict="NOT met"
  fi
  printf '%-36s %10s   %-8s %s\n' "$1" "${2:--}" "${3:+$3 $4}" "$verdict"
}
echo
echo "== summary: $what, $arch prefix, $(date -u '+%Y-%m-%d %H:%M UTC')"
printf '%-36s %10s   %-8s %s\n' "figure" "value" "goal" "met"
row "ratio wizard/nsis-gui" "$(figure 'ratio wizard\/nsis-gui')" "<=" 0.20
row "ratio worker/nsis" "$(figure 'ratio worker\/nsis')" "<=" 0.90
row "ratio extractor alone/nsis" "$(figure 'ratio extractor\/nsis')" "<=" 0.60
row "ratio extractor alone/limit" "$(figure 'ratio extractor\/limit')" "<=" 1.05
row "ratio progress post/bare post" "$(figure 'ratio post\/bare post')" "<=" 1.00
row "  the channel's own thread/bare" "$(figure 'ratio channel alone\/bare alone')" "" ""
row "ratio wizard/worker" "$(figure 'ratio wizard\/worker')" "<=" 1.10
row "  start steps and commit aside" "$(figure 'ratio wizard\/worker, start steps and commit aside')" "" ""
row "  start steps and commit/worker" "$(figure 'ratio start steps and commit\/worker')" "" ""
# The size goal is the shipped i686 program's; an x86_64 build's is shown for scale.
if [ "$built" = i686 ]; then
  row "setup.exe overhead KB ($built)" "$(figure 'setup.exe overhead KB')" "<=" 240
else
  row "setup.exe overhead KB ($built)" "$(figure 'setup.exe overhead KB')" "" ""
fi
row "  without debug information" "$(figure 'setup.exe overhead without debug information KB')" "" ""
if [ -n "$(figure 'shipped i686 setup.exe overhead KB')" ]; then
  row "shipped i686 setup.exe overhead KB" "$(figure 'shipped i686 setup.exe overhead KB')" "<=" 240
  row "  without debug information" "$(figure 'shipped i686 setup.exe overhead without debug information KB')" "" ""
fi
row "peak private MB (setup.exe, paged)" "$(figure 'peak private MB')" "<" 16
row "  as built, Wine's image copy in" "$(figure 'peak private MB of setup.exe as built[^:]*')" "" ""
row "  as built, less the image size" "$(figure '  the same less the image size')" "" ""
row "  NSIS peer's, sampled alike" "$(figure 'peak private MB of the NSIS peer with its progress page, sampled alike')" "" ""
row "ratio worker/floor" "$(figure 'ratio worker\/floor')" "" ""
row "ratio worker/limit" "$(figure 'ratio worker\/limit')" "" ""
row "progress channel share of worker %" "$(figure "progress channel share of the worker's time")" "" ""
row "payload check s (full size)" "$(figure 'payload check s')" "" ""
row "  sample installer's" "$(figure "payload check of the sample installer s")" "" ""
row "SimConnect package check ms" "$(figure 'SimConnect package check before msiexec ms')" "" ""
row "payload check share of worker %" "$(figure "payload check share of the worker's time %")" "" ""
echo "(the whole output: $log)"
exit $status
