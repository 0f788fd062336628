#!/usr/bin/env bash
# make fuzz: runs every fuzz target of the host tree (CTest label "fuzz") for
# SECONDS each instead of the short run of `make test`, keeping the corpus
# each one has grown in HOST_TREE/fuzz-corpus.
# Usage: fuzz.sh HOST_TREE SECONDS
set -u
host=$(cd "$1" && pwd) || exit 1
seconds=$2
status=0
# The commands CTest knows for the label, with the time limit replaced.
mapfile -t commands < <(cd "$host" && ctest -L fuzz --show-only=json-v1 | python3 -c '
import json, sys, shlex
for test in json.load(sys.stdin)["tests"]:
    print(shlex.join(test["command"]))')
[ ${#commands[@]} -gt 0 ] || { echo "fuzz.sh: no fuzz targets in $host" >&2; exit 1; }
for command in "${commands[@]}"; do
  command=$(printf '%s' "$command" | sed -E "s/-max_total_time=[0-9]+/-max_total_time=$seconds/")
  echo "== $command"
  eval "$command" 2>&1 | tail -n 5
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
done
exit $status
