#!/usr/bin/env bash
# Checks a built Windows program (before packing) as the loader and a
# reviewer see it:
#   - imports only from KERNEL32, ADVAPI32 and msvcrt, nothing from USER32
#     or shlwapi (both are loaded at run time, when needed, from the system
#     folder), nor the library search functions (looked up at run time),
#     and each imported function on the reviewed allow-list;
#   - windowed (GUI) subsystem, subsystem and OS version 4.0;
#   - resources: icon group 101 with a 32x32 and a 16x16 16-colour image,
#     the application manifest (id 1) byte for byte as committed, nothing
#     else (no dialogs, menus, string tables or version block);
#   - nothing appended after the last section;
#   - with the program's library (LIBRARY), no static constructor in it:
#     the entry limits the library search before anything else runs, and a
#     constructor would run before the entry.
# usage: check_windows_program.sh OBJDUMP IMAGE ALLOWLIST MANIFEST [LIBRARY]
set -euo pipefail
objdump=$1 image=$2 allowlist=$3 manifest=$4 library=${5:-}
headers=$("$objdump" -p "$image")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Imports: "DLL!function" pairs.
imports=$(echo "$headers" | awk '
  /DLL Name:/ { dll = toupper($3); next }
  dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_0-9]+$/ { print dll "!" $NF }
  /^$/ { if (seen_table) dll = "" }
  /Hint\/Ord/ { seen_table = 1 }')
[ -n "$imports" ] || fail "no imports found"
for dll in $(echo "$imports" | cut -d'!' -f1 | sort -u); do
  case "$dll" in
    KERNEL32.DLL|ADVAPI32.DLL|MSVCRT.DLL) ;;
    *) fail "imports from $dll" ;;
  esac
done
unlisted=$(comm -23 <(echo "$imports" | sort -u) <(grep -v '^#' "$allowlist" | sort -u))
[ -z "$unlisted" ] || fail "imports not on the allow-list: $(echo $unlisted)"
echo "$imports" | grep -qi 'SHDeleteKey' && fail "SHDeleteKeyA imported statically"
echo "$imports" | grep -qi 'MessageBox' && fail "MessageBoxA imported statically"
# Looked up at run time: imported, they would stop the program from starting
# on the systems that lack them.
echo "$imports" | grep -qiE '!(SetDefaultDllDirectories|SetDllDirectory)' &&
  fail "the library search functions imported statically"

field() { echo "$headers" | awk -v name="$1" '$1 == name { print $2; exit }'; }
[ "$(field Subsystem)" = "00000002" ] || fail "subsystem is $(field Subsystem), not Windows GUI"
for name in MajorSubsystemVersion MajorOSystemVersion; do
  [ "$(field $name)" = "4" ] || fail "$name is $(field $name)"
done
for name in MinorSubsystemVersion MinorOSystemVersion; do
  [ "$(field $name)" = "0" ] || fail "$name is $(field $name)"
done

# Resources: the type table entries at the top level, the icon group's ID
# and the two icon images' sizes.
resources=$(echo "$headers" | sed -n '/Resource Directory section/,/Resources start/p')
types=$(echo "$resources" | awk '/^0[0-9a-f]+   Entry: ID:/ { print $4 }' | tr -d ',' | sort | tr '\n' ' ')
[ "$types" = "0x000003 0x00000e 0x000018 " ] ||
  fail "resource types are [$types], not icons, one icon group and a manifest"
echo "$resources" | awk '
  /^0[0-9a-f]+   Entry: ID:/ { type = $4 }
  /^0[0-9a-f]+     Entry: ID:/ { if (type == "0x00000e,") print $4 }' | grep -qx '0x000065,' ||
  fail "no icon group 101"
sizes=$(echo "$resources" | awk '
  /^0[0-9a-f]+   Entry: ID:/ { type = $4 }
  /Leaf:/ { if (type == "0x000003,") print $6 }' | tr -d ',' | sort | tr '\n' ' ')
# 40-byte header, 16-colour palette, 4-bit pixels and the 1-bit mask.
[ "$sizes" = "0x000128 0x0002e8 " ] || fail "icon images of sizes [$sizes], not 16x16 and 32x32 in 16 colours"

# The manifest: resource type 24, id 1, its bytes where the resource
# directory's leaf says (an address relative to the image base, in .rsrc).
leaf=$(echo "$resources" | awk '
  /^0[0-9a-f]+   Entry: ID:/ { type = $4 }
  /^0[0-9a-f]+     Entry: ID:/ { if (type == "0x000018,") id = $4 }
  /Leaf:/ { if (type == "0x000018,") print id, $4, $6 }' | tr -d ',')
read -r manifest_id manifest_rva manifest_size <<<"$leaf"
[ "$manifest_id" = "0x000001" ] || fail "the manifest's id is ${manifest_id:-missing}, not 1"
rsrc=$("$objdump" -h "$image" | awk '$2 == ".rsrc" { print $4, $6 }')
read -r rsrc_vma rsrc_offset <<<"$rsrc"
base=$((16#$(field ImageBase)))
offset=$((16#${manifest_rva#0x} + base - 16#$rsrc_vma + 16#$rsrc_offset))
if ! cmp -s <(tail -c +$((offset + 1)) "$image" | head -c $((16#${manifest_size#0x}))) "$manifest"; then
  fail "the manifest resource differs from $manifest"
fi
grep -q 'level="requireAdministrator"' "$manifest" ||
  fail "the manifest does not ask for administrator rights"

# The file ends where its last section's raw data ends.
alignment=$((16#$(field FileAlignment)))
end=$("$objdump" -h "$image" | while read -r idx name size vma lma off rest; do
  [[ "$idx" =~ ^[0-9]+$ ]] || continue
  o=$((16#$off)) s=$((16#$size))
  [ "$o" -gt 0 ] && echo $((o + (s + alignment - 1) / alignment * alignment))
done | sort -n | tail -1)
actual=$(stat -c %s "$image")
[ "$actual" = "$end" ] || fail "file is $actual bytes, sections end at $end: something was appended"

if [ -n "$library" ]; then
  constructors=$("$objdump" -h "$library" | awk '$2 ~ /^\.(ctors|init_array)/ { print $2 }' | sort -u)
  [ -z "$constructors" ] || fail "static constructors in $library: $(echo $constructors)"
fi

if [ "$failures" -gt 0 ]; then
  exit 1
fi
echo "ok: $(echo "$imports" | wc -l) imports on the allow-list, GUI 4.0, icon group 101, the manifest, nothing appended${library:+, no static constructor}"
