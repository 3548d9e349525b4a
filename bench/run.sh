#!/usr/bin/env bash
# Measures the setup program against its peers and the floor, and prints
# the figures with the targets:
#   - on the host: the core (version probe and import into the in-memory
#     registry, no file I/O) in nanoseconds and in instructions per script
#     byte (callgrind), the whole native run (first install with the hive
#     saved, and the second run), and peak memory against the payload;
#   - under Wine, in one fresh prefix with one persistent server: a first
#     install by our win64 program, by regedit /s and by reg import of the
#     same script, by the floor (exactly the import's registry calls,
#     replayed from a table: bench/windows/floor.c) and an empty program,
#     with and without the setup program's application manifest;
#     the integrity check alone, on the native program and, under Wine, on
#     the win64 one, against a first install;
#     and an update over an older database by ours and by regedit /s with a
#     deletion header, with each one's removal measured apart.
# The contenders alternate, each repetition in turn; every run starts from
# a saved registry (no database, or the older one). Figures go to
# build/bench/results.md, the chart to bench/results.svg.
# usage: bash bench/run.sh [REPETITIONS] [SCALES] [UPDATE_SCALES]
#   defaults: 10 repetitions, scales 1,10,100, updates at 1,10
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_missing g++ cmake make libgtest-dev valgrind time \
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64

repetitions=${1:-10} scales=${2:-1,10,100} updates=${3:-1,10}
work=$PWD/build/bench
mkdir -p "$work"

cmake --preset host >/dev/null
cmake --build --preset host --target drvsetup_image drvdb gendb floortable \
  bench_core bench_check harness >/dev/null
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target drvsetup_image bench_check >/dev/null
for program in floor empty remove; do
  x86_64-w64-mingw32-gcc -O2 -Wall -nostdlib -e Start -mwindows \
    -o "$work/$program.exe" "bench/windows/$program.c" -lkernel32 -ladvapi32
done
x86_64-w64-mingw32-gcc -O2 -Wall -mwindows -static -o "$work/empty_crt.exe" \
  bench/windows/empty_crt.c
# The empty program again, with the setup program's application manifest:
# what the manifest costs at start-up.
echo '1 24 "setup/drvsetup.manifest"' > "$work/manifest.rc"
x86_64-w64-mingw32-windres "$work/manifest.rc" -O coff -o "$work/manifest.o"
x86_64-w64-mingw32-gcc -O2 -Wall -nostdlib -e Start -mwindows \
  -o "$work/empty_manifest.exe" bench/windows/empty.c "$work/manifest.o" -lkernel32
cp build/host/bench/bench_core "$work/core"
cp build/host/bench/bench_check "$work/check"
cp build/win64/bench/bench_check.exe "$work/check.exe"

utf16() { iconv -f UTF-8 -t UTF-16LE; }
{ printf '\xff\xfe'; printf 'Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_LOCAL_MACHINE\\Software\\morvelan\\DRIVER2]\r\n' | utf16; } \
  > "$work/delete-only.reg"
for scale in ${scales//,/ }; do
  db=$work/db-$scale.reg
  build/host/gendb --scale "$scale" "$db"
  # The same database one version older, and with a deletion header first.
  iconv -f UTF-16LE -t UTF-8 "$db" | sed 's/"DriverVersion"=dword:00000047/"DriverVersion"=dword:00000046/' |
    utf16 > "$work/db-old-$scale.reg"
  { cat "$work/delete-only.reg"; iconv -f UTF-16LE -t UTF-8 "$db" | tail -n +2 | utf16; } \
    > "$work/del-$scale.reg"
  # The scaled databases repeat the sample's findings with the comments that
  # allow them.
  build/host/drvdb pack --quiet build/host/drvsetup_image "$db" "$work/drvsetup-$scale"
  build/host/drvdb pack --quiet build/win64/drvsetup_image.exe "$db" "$work/drvsetup-$scale.exe"
  build/host/drvdb pack --quiet build/win64/drvsetup_image.exe "$work/db-old-$scale.reg" \
    "$work/drvsetup-old-$scale.exe"
  build/host/bench/floortable "$db" "$work/floor-$scale.tbl"
done

build/host/bench/harness "$work" "$scales" "$repetitions" "$updates"
[ -f "$work/results.svg" ] && cp "$work/results.svg" bench/results.svg
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(/usr/lib/wine/wine64 --version)"
