#!/usr/bin/env bash
# Builds the libFuzzer harnesses and runs each for as long as asked, one
# after another, keeping each harness's corpus in build/fuzz/corpus/NAME
# between calls. Prints libFuzzer's figures (executions, executions per
# second, coverage) for each; a finding is left in build/fuzz/corpus/ as
# crash-*, leak-*, timeout-* or oom-*, and the script fails.
# usage: scripts/fuzz.sh SECONDS [RUNS] [HARNESS...]
#   SECONDS  the longest each harness runs
#   RUNS     stop a harness after this many executions (default: no limit)
#   HARNESS  options, run, import, check, hive (default: all five)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_missing g++ cmake make clang libclang-rt-14-dev

seconds=${1:?usage: scripts/fuzz.sh SECONDS [RUNS] [HARNESS...]}
runs=${2:--1}
shift $(( $# < 2 ? $# : 2 ))
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(options run import check hive)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
failed=0
for name in "${harnesses[@]}"; do
  echo "== $name: up to $seconds s$([ "$runs" = -1 ] || echo " or $runs runs")"
  log=build/fuzz/corpus/$name.log
  mkdir -p build/fuzz/corpus
  if bash fuzz/run.sh "build/fuzz/fuzz/${name}_fuzzer" \
       "build/fuzz/fuzz/seeds/$name" "build/fuzz/corpus/$name" "$seconds" \
       -runs="$runs" >"$log" 2>&1; then
    grep -E '^#[0-9]+.*DONE|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log"
  else
    failed=1
    echo "FOUND SOMETHING: see $log"
    grep -E 'check failed|ERROR|SUMMARY|artifact' "$log" | head -10
  fi
done
exit $failed
