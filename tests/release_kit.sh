#!/usr/bin/env bash
# The release kit: built again from scratch in another folder, its archives
# must be byte-identical to KIT_DIR's. Each kit, unpacked into a fresh
# folder, works on its own: the Linux kit's drvdb and, under Wine, the
# Windows kit's drvdb.exe pack the kit's sample database into the kit's
# image, byte for byte the same program, which drvdb reads back.
# usage: release_kit.sh SOURCE KIT_DIR WORK
set -euo pipefail
source=$1 kits=$2 work=$3
rm -rf "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

bash "$source/scripts/release.sh" "$work/again" >/dev/null
# The archives' checksums, as the maintainers' guide checks them; and the
# same checksums from the second build.
(cd "$kits" && sha256sum -c SHA256SUMS) >/dev/null ||
  fail "sha256sum -c SHA256SUMS fails beside the archives"
cmp -s "$kits/SHA256SUMS" "$work/again/SHA256SUMS" ||
  fail "SHA256SUMS differs between two clean builds"
[ "$(wc -l <"$kits/SHA256SUMS")" -eq 2 ] || fail "SHA256SUMS does not hold both archives"
for archive in "$kits"/drvsetup-kit-*.zip "$kits"/drvsetup-kit-*.tar.gz; do
  name=$(basename "$archive")
  if cmp -s "$archive" "$work/again/$name"; then
    echo "ok $name: two clean builds give the same bytes ($(stat -c %s "$archive") bytes)"
  else
    fail "$name differs between two clean builds"
  fi
done

# Each kit on its own, in a fresh folder, with its own steps: the sample
# passes check --werror and pack as it stands (its comments allow its
# quirks), and info calls the packed program good.
mkdir -p "$work/windows" "$work/linux"
(cd "$work/windows" && cmake -E tar xf "$(ls "$kits"/drvsetup-kit-*-windows-x64.zip)")
(cd "$work/linux" && cmake -E tar xf "$(ls "$kits"/drvsetup-kit-*-linux-x86_64.tar.gz)")
windows=$(ls -d "$work"/windows/drvsetup-kit-*)
linux=$(ls -d "$work"/linux/drvsetup-kit-*)
# Each kit's guide is the maintainers' guide's steps; the Windows kit's has
# CR LF line ends; the Linux kit has drvdb's manual page.
for kit in windows-x64:"$windows" linux-x86_64:"$linux"; do
  cmp -s "${kit#*:}/README.txt" <(bash "$source/scripts/kit_readme.sh" "${kit%%:*}" \
      "$source/docs/maintaining.md") ||
    fail "the ${kit%%:*} kit's README.txt is not made from docs/maintaining.md"
done
if grep -q $'[^\r]$' "$windows/README.txt"; then
  fail "the Windows kit's README.txt has lines without CR LF"
fi
[ -s "$linux/drvdb.1" ] || fail "the Linux kit has no manual page"
[ -s "$windows/winget-installer.yaml" ] || fail "the Windows kit has no winget manifest"
# Each kit's BUILDINFO: what it was built from, and the SHA-256 of every
# other file of the kit, which hold.
for kit in "$windows" "$linux"; do
  info=$kit/BUILDINFO
  for field in "commit: $(git -C "$source" rev-parse HEAD)" \
      "SOURCE_DATE_EPOCH: " "g++: " "i686-w64-mingw32-g++: " "cmake: "; do
    grep -q "^$field" "$info" || fail "$(basename "$kit")'s BUILDINFO has no \"$field\""
  done
  sums=$(grep -E '^[0-9a-f]{64}  ' "$info" | awk '{ print $2 }' | LC_ALL=C sort | tr '\n' ' ')
  files=$(cd "$kit" && LC_ALL=C ls | grep -vx BUILDINFO | tr '\n' ' ')
  [ "$sums" = "$files" ] || fail "$(basename "$kit")'s BUILDINFO sums $sums, the kit holds $files"
  (cd "$kit" && grep -E '^[0-9a-f]{64}  ' BUILDINFO | sha256sum -c --quiet) ||
    fail "$(basename "$kit")'s files do not match its BUILDINFO"
done
"$linux/drvdb" check --werror "$linux/drives.reg" >/dev/null ||
  fail "the Linux kit's sample fails check --werror"
"$linux/drvdb" pack --quiet "$linux/drvsetup_image.exe" \
  "$linux/drives.reg" "$work/linux.exe" || fail "the Linux kit does not pack"

export WINEPREFIX="$work/prefix" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
. "$source/tests/wine_prefix.sh"
# The prefix's programs end before its folder goes, pass or fail: a server
# whose folder is gone can no longer be asked to end.
trap 'end_wine_prefix "$WINEPREFIX"' EXIT
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
boot_wine_prefix || exit 1
/usr/lib/wine/wine64 "$windows/drvdb.exe" check --werror "$windows/drives.reg" \
  >/dev/null || fail "the Windows kit's sample fails check --werror"
/usr/lib/wine/wine64 "$windows/drvdb.exe" pack --quiet \
  "$windows/drvsetup_image.exe" "$windows/drives.reg" "$work/windows.exe" ||
  fail "the Windows kit does not pack under Wine"
if cmp -s "$work/linux.exe" "$work/windows.exe"; then
  echo "ok both kits pack the same program"
else
  fail "the kits pack different programs"
fi
info=$("$linux/drvdb" info "$work/windows.exe") ||
  fail "info calls the kit's program bad: $info"
grep -q "integrity:       record at" <<<"$info" ||
  fail "the packed program does not read: $info"
grep -q "check:           ok" <<<"$info" ||
  fail "info's check line is not ok: $info"
end_wine_prefix "$WINEPREFIX"
[ "$failures" -eq 0 ] && rm -rf "$work"
[ "$failures" -eq 0 ]
