#!/usr/bin/env bash
# Runs one fuzz harness for a fixed time on its seeds and its own corpus,
# and prints libFuzzer's figures.
# usage: run.sh FUZZER SEEDS CORPUS SECONDS [LIBFUZZER OPTION...]
set -euo pipefail
fuzzer=$1 seeds=$2 corpus=$3 seconds=$4
shift 4
mkdir -p "$corpus"
exec "$fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$corpus/../" \
  "$@" "$corpus" "$seeds"
