#!/usr/bin/env bash
# Runs the differential test against Wine's registry on any number of random
# scripts: each through the native program and the Windows program under
# Wine, on five registries (fresh, and an older, equal, newer and
# string-typed DriverVersion installed). Needs the builds of scripts/test.sh.
# usage: scripts/differential.sh SCRIPTS [FIRST_SEED]
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/host/tests/process_tests ] && [ -f build/win64/regdump.exe ] || {
  echo "build first: bash scripts/test.sh" >&2
  exit 2
}
DRVSETUP_DIFF_SCRIPTS=${1:?usage: scripts/differential.sh SCRIPTS [FIRST_SEED]} \
DRVSETUP_DIFF_SEED=${2:-1} \
  exec build/host/tests/process_tests --gtest_filter=Differential.AgainstWine
