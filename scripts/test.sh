#!/usr/bin/env bash
# Installs what is missing, builds every target and runs the whole test
# suite with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_missing g++ cmake make libgtest-dev

cmake --preset host -DDRVSETUP_WERROR=ON
cmake --build --preset host
ctest --preset host
