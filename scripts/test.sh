#!/usr/bin/env bash
# Installs what is missing, builds the native program, both Windows
# programs, drvdb.exe and the release kit, and runs the whole test suite
# with CTest: unit tests, the packed programs end to end (native, the 64-bit
# one under Wine, and the 32-bit product, packed by the kit's drvdb.exe,
# under 32-bit Wine through qemu-user), drvdb and drvdb.exe call by call,
# the Windows programs' import and resource checks, the kit built again
# byte for byte, and the message boxes on a virtual display against their
# pictures in docs/boxes; then the host suite under the sanitizers and each
# fuzz harness for a short fixed time.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
. tests/wine_prefix.sh

# Every process the suite starts carries this setting, Wine's servers and
# the programs of every prefix included. When the suite ends, pass or fail,
# none may be left: those still there after a short grace are listed and
# killed, and a suite that had passed fails.
export DRVSETUP_SUITE_RUN="$$-$(date +%s%N)"
end_of_suite() {
  local status=$? left="" _
  for _ in $(seq 1 20); do
    left=$(processes_with "DRVSETUP_SUITE_RUN=$DRVSETUP_SUITE_RUN")
    [ -n "$left" ] || break
    sleep 0.5
  done
  if [ -n "$left" ]; then
    echo "FAIL the suite left processes running:"
    ps -o pid=,args= -p "$(echo $left | tr ' ' ,)" || true
    kill -9 $left 2>/dev/null || true
    [ "$status" -ne 0 ] || status=1
  else
    echo "No process of the suite is left running."
  fi
  exit "$status"
}
trap end_of_suite EXIT
install_missing g++ cmake make libgtest-dev clang libclang-rt-14-dev \
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 \
  binutils-mingw-w64-x86-64 wine wine64 xvfb xauth xdotool imagemagick \
  osslsigncode openssl man-db git zip
install_i386_wine ||
  echo "$I386_WINE_PROBLEM: the 32-bit program's runs will be skipped"

werror=-DDRVSETUP_WERROR=ON
# The native drvdb first: the Windows builds pack with it.
cmake --preset host "$werror" \
  -DDRVSETUP_WIN32_BUILD="$PWD/build/win32" \
  -DDRVSETUP_WIN64_BUILD="$PWD/build/win64" \
  -DDRVSETUP_RELEASE_BUILD="$PWD/build/release" >/dev/null
cmake --build --preset host --target drvdb
for preset in win32 win64; do
  cmake --preset "$preset" "$werror" -DDRVSETUP_HOST_DRVDB="$PWD/build/host/drvdb" >/dev/null
  cmake --build --preset "$preset"
done
cmake --build --preset host
# The release kit, which the tests unpack and build again.
bash scripts/release.sh build/release >/dev/null
ctest --preset host

# The host suite again under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer, and each fuzz harness for a short fixed time.
cmake --preset host-asan "$werror" >/dev/null
cmake --build --preset host-asan
ctest --preset host-asan
cmake --preset fuzz "$werror" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz
if [ -n "$I386_WINE_PROBLEM" ]; then
  echo "The 32-bit product was not run: $I386_WINE_PROBLEM."
fi
