#!/usr/bin/env bash
# Builds the release kit, the one command for it: the 32-bit product image,
# drvdb.exe for Windows x64 and a static drvdb for Linux x86-64 (it needs no
# shared library, so it runs on older distributions), each from a clean
# build, and writes two archives into WORK:
#   drvsetup-kit-VERSION-windows-x64.zip
#   drvsetup-kit-VERSION-linux-x86_64.tar.gz
# each holding its platform's tool, drvsetup_image.exe, the sample database
# and a short maintainers' guide, made from docs/maintaining.md (the Linux
# kit also drvdb's manual page, the Windows kit the winget manifest), and a
# BUILDINFO file saying what the kit was built from and with, and the
# SHA-256 of each of its other files; SHA256SUMS beside the archives holds
# theirs. VERSION is the project's, from CMakeLists.txt. Two runs give byte-identical archives wherever they build:
# the programs are built with their folders mapped away and no time stamp,
# the entries stand in name order, and every time in them is
# SOURCE_DATE_EPOCH (by default the last commit's time).
# usage: scripts/release.sh [WORK]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_missing g++ cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 \
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 zip

work=$(realpath -m "${1:-build/release}")
version=$(sed -n 's/^project(drvsetup VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release.sh: no version in CMakeLists.txt" >&2; exit 1; }
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 1765238400)
fi
export SOURCE_DATE_EPOCH
rm -rf "$work"
mkdir -p "$work"

build() {  # name, toolchain file or "", target
  local toolchain=()
  [ -z "$2" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/$2")
  cmake -S . -B "$work/build-$1" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DDRVSETUP_TESTS=OFF -DDRVSETUP_RELEASE=ON >/dev/null
  cmake --build "$work/build-$1" --target "$3" -j 2 >/dev/null
}
build win32 toolchain-i686-w64-mingw32.cmake drvsetup_image
build win64 toolchain-x86_64-w64-mingw32.cmake drvdb
build linux "" drvdb_manual

# What a kit was built from and with: the commit (and whether the tree had
# changes of its own), the time every file carries, the compilers and
# tools, then the SHA-256 of each other file of the kit, as sha256sum -c
# reads them.
buildinfo() {  # kit folder
  local commit tool
  commit=$(git rev-parse HEAD 2>/dev/null || echo "no git checkout")
  git diff --quiet HEAD 2>/dev/null || commit="$commit, with changes not committed"
  echo "drvsetup kit $version, $(basename "$1")"
  echo "commit: $commit"
  echo "SOURCE_DATE_EPOCH: $SOURCE_DATE_EPOCH"
  for tool in g++ i686-w64-mingw32-g++ x86_64-w64-mingw32-g++ cmake; do
    echo "$tool: $("$tool" --version | head -1)"
  done
  echo "zip: $(zip -v | sed -n 2p | sed 's/^ *//')"
  echo "tar: $(tar --version | head -1)"
  echo "gzip: $(gzip --version | head -1)"
  echo "SHA-256 of the kit's other files, as sha256sum -c reads them:"
  (cd "$1" && LC_ALL=C ls | grep -vx BUILDINFO | xargs sha256sum)
}

# The kit of a platform, staged with every time and permission fixed.
kit() {  # platform, tool, more files
  local dir="$work/kit/drvsetup-kit-$version-$1"
  mkdir -p "$dir"
  cp "$2" "${@:3}" "$work/build-win32/drvsetup_image.exe" data/drives.reg "$dir/"
  bash scripts/kit_readme.sh "$1" > "$dir/README.txt"
  buildinfo "$dir" > "$work/kit/BUILDINFO-$1"
  mv "$work/kit/BUILDINFO-$1" "$dir/BUILDINFO"
  chmod 644 "$dir"/*
  chmod 755 "$dir/$(basename "$2")"
  touch -d "@$SOURCE_DATE_EPOCH" "$dir" "$dir"/*
}
kit windows-x64 "$work/build-win64/drvdb.exe" data/winget-installer.yaml
kit linux-x86_64 "$work/build-linux/drvdb" "$work/build-linux/drvdb.1"
cd "$work/kit"
name=drvsetup-kit-$version
# Entries in name order; no times but the files' (zip -X keeps no extra
# ones; its DOS times are local, so UTC), no owner names in the tar.
find "$name-windows-x64" -type f | LC_ALL=C sort |
  TZ=UTC zip -X -D -q -9 "$work/$name-windows-x64.zip" -@
find "$name-linux-x86_64" -type f | LC_ALL=C sort |
  tar -c --no-recursion --owner=0 --group=0 --numeric-owner \
    --mtime="@$SOURCE_DATE_EPOCH" --format=gnu -T - |
  gzip -n -9 > "$work/$name-linux-x86_64.tar.gz"
cd "$work"
sha256sum "$name-windows-x64.zip" "$name-linux-x86_64.tar.gz" > SHA256SUMS
ls "$work"/drvsetup-kit-* "$work/SHA256SUMS"
