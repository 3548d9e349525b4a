#!/usr/bin/env bash
# Kills the native program with SIGKILL at random moments of an update, as
# many times as asked, and checks the hive after every kill; then, if asked,
# kills the win64 program under Wine during first installs and checks that
# each partial database carries no version and is repaired by the next run
# (see tests/kill_test.cpp). Needs the builds of scripts/test.sh.
# usage: scripts/kill.sh KILLS [WINE_KILLS]
set -euo pipefail
cd "$(dirname "$0")/.."
DRVSETUP_KILLS=${1:?usage: scripts/kill.sh KILLS [WINE_KILLS]} \
  build/host/tests/process_tests --gtest_filter=NativeHive.SurvivesKillsDuringAnUpdate
if [ -n "${2:-}" ]; then
  DRVSETUP_WINE_KILLS=$2 \
    build/host/tests/process_tests --gtest_filter=UnderWine.KilledFirstInstallsAreRepaired
fi
