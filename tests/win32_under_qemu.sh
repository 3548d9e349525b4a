#!/usr/bin/env bash
# Runs the product itself, the packed 32-bit program, under 32-bit Wine
# through qemu-user (this machine's kernel cannot start 32-bit Linux
# programs; nothing is registered with binfmt_misc):
#   - the product is the release kit's, when KIT (the Windows kit's archive)
#     is given: unpacked into a fresh folder, the kit's drvdb.exe packs the
#     kit's sample database into the kit's image, under 64-bit Wine;
#     otherwise the build's;
#   - the product, signed with a throwaway certificate, verifies, and its
#     first install exits 0;
#   - the tree it writes in the registry's 32-bit view
#     (Software\Wow6432Node\morvelan) equals, key by key and value by value,
#     the tree that the 64-bit program writes in the normal view;
#   - a second run exits 1;
#   - a copy with a corrupt trailer exits 255 with "-ne";
#   - on the non-NT family (Wine reports Windows 98 to one copy of the
#     program alone), a first install in a second prefix exits 0 and writes
#     the same tree.
# Each 32-bit run costs about a minute of emulation, so runs go two at a
# time: the corrupt copy beside the first install, the non-NT install beside
# the second run. Exits 77 (skipped) when 32-bit Wine or qemu-user is not
# installed.
# usage: win32_under_qemu.sh WIN32_BUILD WIN64_BUILD [KIT]
set -euo pipefail
win32=$1 win64=$2 kit=${3:-}
. "$(dirname "$0")/wine_prefix.sh"
missing=$(wine32_missing)
if [ -n "$missing" ]; then
  echo "SKIPPED: the 32-bit program was not run: missing $missing"
  exit 77
fi
export WINEPREFIX WINEDEBUG=-all
nt=$(mktemp -d /tmp/drvsetup-win32-XXXXXX)
nonnt=$(mktemp -d /tmp/drvsetup-win32-9x-XXXXXX)
stop() {
  end_wine_prefix "$nt" "$nonnt"
  rm -rf "$nt" "$nonnt"
}
trap stop EXIT

failures=0
expect() {  # what, expected status, actual status
  if [ "$3" -ne "$2" ]; then
    echo "FAIL $1: exit status $3, expected $2"
    failures=$((failures + 1))
  else
    echo "ok $1: exit status $3"
  fi
}

# The 32-bit view's tree against the 64-bit program's, in this prefix, and
# the normal view's against what the 64-bit program wrote there (if it ran).
compare_view() {  # what, the normal view's tree
  local actual keys values
  actual=$(wine_tree 'HKEY_LOCAL_MACHINE\Software\Wow6432Node\morvelan')
  keys=$(grep -c '^\[' <<<"$actual" || true)
  values=$(grep -c '^"' <<<"$actual" || true)
  if [ -n "$actual" ] && [ "$actual" = "$expected" ]; then
    echo "ok $1: the same tree as the 64-bit program's ($keys keys, $values values)"
  else
    echo "FAIL $1: the 32-bit view differs from the 64-bit program's tree:"
    diff <(echo "$expected") <(echo "$actual") | head -20 || true
    failures=$((failures + 1))
  fi
  if [ "$(wine_tree 'HKEY_LOCAL_MACHINE\Software\morvelan')" != "$2" ]; then
    echo "FAIL $1: the 32-bit program wrote outside its view"
    failures=$((failures + 1))
  fi
}

make_prefix_32 "$nt" || exit 1
# The second prefix boots while the first runs.
make_prefix_32 "$nonnt" >"$nonnt.log" 2>&1 & nonnt_boot=$!
WINEPREFIX=$nt

# The program under test: the build's, or packed from the release kit by
# the kit's own drvdb.exe.
packed="$win32/drvsetup.exe"
if [ -n "$kit" ]; then
  mkdir -p "$WINEPREFIX/drive_c/kit"
  (cd "$WINEPREFIX/drive_c/kit" && cmake -E tar xf "$kit")
  unpacked=$(ls -d "$WINEPREFIX"/drive_c/kit/drvsetup-kit-*)
  packed="$unpacked/drvsetup.exe"
  status=0
  "$wine64" "$unpacked/drvdb.exe" pack --quiet \
    "$unpacked/drvsetup_image.exe" "$unpacked/drives.reg" "$packed" \
    </dev/null || status=$?
  expect "the kit's drvdb.exe packs the kit's database into its image" 0 "$status"
fi

# Signed as a release is, packed first: with a throwaway certificate, and
# without a timestamp (no timestamp server is reachable here).
product="$WINEPREFIX/drive_c/drvsetup.exe"
if command -v osslsigncode >/dev/null && command -v openssl >/dev/null; then
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$WINEPREFIX/key.pem" \
    -out "$WINEPREFIX/cert.pem" -days 2 -subj "/CN=drvsetup test" 2>/dev/null
  osslsigncode sign -certs "$WINEPREFIX/cert.pem" -key "$WINEPREFIX/key.pem" \
    -in "$packed" -out "$product" >/dev/null
  status=0
  osslsigncode verify -CAfile "$WINEPREFIX/cert.pem" -in "$product" >/dev/null || status=$?
  expect "the signed product verifies" 0 "$status"
else
  echo "FAIL osslsigncode or openssl is not installed"
  failures=$((failures + 1))
  cp "$packed" "$product"
fi

corrupt="$WINEPREFIX/drive_c/corrupt.exe"
cp "$win32/drvsetup_image.exe" "$corrupt"
printf '\360\377\377\177' >> "$corrupt"

status=0
"$wine64" "$win64/drvsetup.exe" -ns -ne || status=$?
expect "64-bit program, first install (the reference)" 0 "$status"
expected=$(wine_tree 'HKEY_LOCAL_MACHINE\Software\morvelan')

start=$SECONDS
run32 "$corrupt" -ne & corrupt_pid=$!
status=0
run32 "$product" -ns -ne || status=$?
expect "32-bit program, signed, first install" 0 "$status"
status=0
wait "$corrupt_pid" || status=$?
expect "32-bit program, corrupt trailer, -ne" 255 "$status"
compare_view "32-bit program" "$expected"

status=0
wait "$nonnt_boot" || status=$?
if [ "$status" -ne 0 ]; then
  echo "FAIL the second prefix does not work:"
  cat "$nonnt.log"
  failures=$((failures + 1))
  nonnt_pid=""
else
  # Windows 98 for this copy alone; the other Wine tools stay NT.
  WINEPREFIX=$nonnt "$wine64" reg add \
    'HKCU\Software\Wine\AppDefaults\drvsetup-win98.exe' /v Version /d win98 /f \
    </dev/null >/dev/null 2>&1
  cp "$packed" "$nonnt/drive_c/drvsetup-win98.exe"
  WINEPREFIX=$nonnt run32 "$nonnt/drive_c/drvsetup-win98.exe" -ns -ne & nonnt_pid=$!
fi
rm -f "$nonnt.log"
status=0
run32 "$product" -ns -ne || status=$?
expect "32-bit program, signed, second run" 1 "$status"
if [ -n "$nonnt_pid" ]; then
  status=0
  wait "$nonnt_pid" || status=$?
  expect "32-bit program, non-NT family, first install" 0 "$status"
  WINEPREFIX=$nonnt
  compare_view "32-bit program, non-NT family" ""
fi
echo "32-bit runs took $((SECONDS - start)) s"
[ "$failures" -eq 0 ]
