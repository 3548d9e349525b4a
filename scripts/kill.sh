#!/usr/bin/env bash
# Kills the native program with SIGKILL at random moments of an update, as
# many times as asked, and checks the hive after every kill (see
# tests/kill_test.cpp). Needs the host build of scripts/test.sh.
# usage: scripts/kill.sh KILLS
set -euo pipefail
cd "$(dirname "$0")/.."
DRVSETUP_KILLS=${1:?usage: scripts/kill.sh KILLS} \
  exec build/host/tests/process_tests --gtest_filter=NativeHive.SurvivesKillsDuringAnUpdate
