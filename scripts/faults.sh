#!/usr/bin/env bash
# Every platform call of every scenario failed in turn, every point of the
# sample database's scenarios included (CI runs a fixed spread of them):
# builds the host preset's fault test and runs it with
# DRVSETUP_FAULTS_SAMPLE=all, which prints each scenario's figures: its
# calls, its points with their errors, the runs, how many survived, where
# old keys stayed, and what each stage gave.
# usage: scripts/faults.sh [PRESET]   (host by default; host-asan too)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_missing g++ cmake make libgtest-dev
preset=${1:-host}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target fault_tests drvsetup_image
start=$SECONDS
DRVSETUP_FAULTS_SAMPLE=all "build/$preset/tests/fault_tests"
echo "The whole run took $((SECONDS - start)) s."
