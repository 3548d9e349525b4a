#!/usr/bin/env bash
# Runs the differential test against Wine's registry on any number of random
# scripts: each through the native program and the Windows program under
# Wine, on five registries (fresh, and an older, equal, newer and
# string-typed DriverVersion installed). Needs the builds of scripts/test.sh.
# JOBS shards run side by side, each with its own Wine prefix and server.
# usage: scripts/differential.sh SCRIPTS [FIRST_SEED] [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/host/tests/process_tests ] && [ -f build/win64/regdump.exe ] || {
  echo "build first: bash scripts/test.sh" >&2
  exit 2
}
scripts=${1:?usage: scripts/differential.sh SCRIPTS [FIRST_SEED] [JOBS]}
seed=${2:-1} jobs=${3:-1}
logs=build/differential
rm -rf "$logs" && mkdir -p "$logs"
pids=()
for ((j = 0; j < jobs; ++j)); do
  # Shard j takes an equal share of the seeds, the first ones the remainder.
  count=$((scripts / jobs + (j < scripts % jobs)))
  [ "$count" -gt 0 ] || continue
  DRVSETUP_DIFF_SCRIPTS=$count DRVSETUP_DIFF_SEED=$seed \
    build/host/tests/process_tests --gtest_filter=Differential.AgainstWine \
    >"$logs/$j" 2>&1 &
  pids+=($!)
  seed=$((seed + count))
done
failed=0
for ((j = 0; j < ${#pids[@]}; ++j)); do
  wait "${pids[j]}" || failed=1
  grep -E '^  [0-9]+ runs|Failure|seed [0-9]+' "$logs/$j" || cat "$logs/$j"
done
[ "$failed" = 0 ] && echo "all shards agree" ||
  echo "DISAGREEMENT: the whole story is in $logs/"
exit $failed
