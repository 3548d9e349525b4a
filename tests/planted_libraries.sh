#!/usr/bin/env bash
# An elevated run never loads a library planted beside the program or in
# its current folder. Marker libraries under the names that Windows looks
# for in a program's own folder first (each marker's DllMain writes its path
# to a log) are planted beside the program and in its current folder, and
# Wine is told to prefer native copies of exactly those names: that gives
# Windows' search order (the program's folder, then the system folder),
# which Wine's own preference for its builtin copies would hide. In every
# mode no marker may load, and the outcome and the registry must be what
# the same run gives without the plants.
#
# Under Wine a plant in the current folder cannot show a fault (Wine looks
# there after the system folder); it stays as a guard, and the proof is the
# plant in the program's folder. With WIN32_BUILD, and 32-bit Wine present,
# the 32-bit product runs too, in two modes, beside the 64-bit ones.
# usage: planted_libraries.sh WIN64_BUILD [WIN32_BUILD]   (under xvfb-run)
set -euo pipefail
win64=$1 win32=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
title="Disc burning driver setup"
names="version uxtheme dwmapi cryptbase userenv profapi shlwapi imm32
       comctl32 winmm msimg32 propsys oleacc apphelp"
overrides="$(echo $names | tr ' ' ',')=n,b"
. "$here/wine_prefix.sh"
export WINEPREFIX WINEDEBUG=-all
work=$(mktemp -d /tmp/drvsetup-planted-XXXXXX)
prefix64=$work/prefix64 prefix32=$work/prefix32
stop() {
  end_wine_prefix "$prefix64" "$prefix32"
  rm -rf "$work"
}
trap stop EXIT

failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# The marker, for one compiler: it writes where it was loaded from to the
# file that PLANTED_LOG names, and loads nothing itself.
markers() {  # COMPILER FOLDER
  mkdir -p "$2"
  cat >"$2/marker.c" <<'EOF'
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  char path[MAX_PATH + 2], log[MAX_PATH];
  DWORD length, written;
  HANDLE file;
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH ||
      !GetEnvironmentVariableA("PLANTED_LOG", log, MAX_PATH))
    return TRUE;
  length = GetModuleFileNameA(self, path, MAX_PATH);
  path[length++] = '\r';
  path[length++] = '\n';
  file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    WriteFile(file, path, length, &written, NULL);
    CloseHandle(file);
  }
  return TRUE;
}
EOF
  "$1" -shared -O2 -o "$2/marker.dll" "$2/marker.c"
}

# Each folder gets every marker under every name.
plant() {  # MARKERS FOLDER...
  local markers=$1 folder name
  shift
  for folder in "$@"; do
    mkdir -p "$folder"
    for name in $names; do
      cp "$markers/marker.dll" "$folder/$name.dll"
    done
  done
}

# Where each run takes place, in a prefix: the same programs in a clean
# folder and in a planted one, each with a current folder of its own.
folders() {  # PREFIX MARKERS PROGRAM...
  local prefix=$1 markers=$2
  shift 2
  mkdir -p "$prefix/drive_c/clean/app" "$prefix/drive_c/clean/cwd"
  plant "$markers" "$prefix/drive_c/planted/app" "$prefix/drive_c/planted/cwd"
  cp "$@" "$prefix/drive_c/clean/app/"
  cp "$@" "$prefix/drive_c/planted/app/"
  printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"DriverVersion"=dword:00000047\r\n' |
    tee "$prefix/drive_c/clean/cwd/check.reg" >"$prefix/drive_c/planted/cwd/check.reg"
}

# The installed database before a mode: none, an older one with a stale
# key, or the current one (installed by the clean program).
prepare() {  # STATE [VIEW]
  local key='HKLM\Software\morvelan'
  "$wine64" reg delete "$key" /f ${2:+/reg:$2} </dev/null >/dev/null 2>&1 || true
  case $1 in
    older)
      "$wine64" reg add "$key\\DRIVER2" /v DriverVersion /t REG_DWORD /d 1 /f \
        ${2:+/reg:$2} </dev/null >/dev/null 2>&1
      "$wine64" reg add "$key\\DRIVER2\\MAPPINGS\\STALE" /v load1 /d X /f \
        ${2:+/reg:$2} </dev/null >/dev/null 2>&1 ;;
    current)
      (cd "$WINEPREFIX/drive_c/clean/cwd" &&
        "$wine64" 'C:\clean\app\drvsetup.exe' -ns -ne </dev/null >/dev/null 2>&1) || true ;;
  esac
}

# Runs a program of a folder (clean or planted) from its current folder,
# and when box is set finds its box by the title and presses Return on it.
# Sets status, and log to the markers that loaded.
launch() {  # RUNNER FOLDER BOX PROGRAM ARG...
  local runner=$1 folder=$2 box=$3 program=$4
  shift 4
  local logfile="$WINEPREFIX/drive_c/$folder/loaded.txt" pid window="" stuck=""
  local errors="$WINEPREFIX/drive_c/$folder/stderr.txt" debug=$WINEDEBUG
  rm -f "$logfile"
  # A run that should show a box keeps Wine's word on why it could not.
  [ "$box" != box ] || debug=$wine_box_debug
  (cd "$WINEPREFIX/drive_c/$folder/cwd" &&
    export WINEDLLOVERRIDES="$overrides" PLANTED_LOG="C:\\$folder\\loaded.txt" \
      WINEDEBUG="$debug" &&
    $runner "C:\\$folder\\app\\$program" "$@" </dev/null >/dev/null 2>"$errors") &
  pid=$!
  if [ "$box" = box ]; then
    for _ in $(seq 1 600); do
      window=$(xdotool search --name "^$title\$" 2>/dev/null | head -1 || true)
      [ -n "$window" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.2
    done
    if [ -n "$window" ]; then
      sleep 0.5
      press_until_gone "$window" "$pid" || stuck=yes
    fi
    if [ -z "$window" ] || [ -n "$stuck" ]; then
      # A box that never showed may still wait for someone, and one that
      # takes no key does: end the prefix's programs, and keep a server for
      # the next runs.
      /usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true
      /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
    fi
  fi
  status=0
  wait "$pid" || status=$?
  [ "$box" != box ] || [ -n "$window" ] ||
    status="$status, and no box; Wine's reason: $(wine_box_reason "$errors")"
  [ -z "$stuck" ] || status="$status, and its box took no key"
  log=""
  [ ! -f "$logfile" ] || log=$(tr -d '\r' <"$logfile")
}

# One mode: the run from the clean folder, then from the planted one, over
# the same database; the same outcome and registry, and no marker.
mode() {  # NAME STATE EXPECTED BOX PROGRAM ARG...
  local name=$1 state=$2 expected=$3 box=$4
  shift 4
  local reference_tree tree
  prepare "$state"
  launch "$wine64" clean "$box" "$@"
  local reference=$status
  reference_tree=$(wine_tree 'HKEY_LOCAL_MACHINE\Software\morvelan')
  prepare "$state"
  launch "$wine64" planted "$box" "$@"
  tree=$(wine_tree 'HKEY_LOCAL_MACHINE\Software\morvelan')
  if [ -n "$log" ]; then
    fail "$name: loaded the planted $(echo $log)"
  elif [ "$status" != "$expected" ] || [ "$reference" != "$expected" ]; then
    fail "$name: exit status $status, $reference without the plants, expected $expected"
  elif [ "$tree" != "$reference_tree" ]; then
    fail "$name: the registry differs from the run without the plants"
  else
    echo "ok $name: no planted library loaded, exit status $status, the registry as without the plants"
  fi
}

# The 32-bit product, planted only, over an older database: its tree in
# the 32-bit view must be the 64-bit program's in the normal view.
product() {  # MODE BOX EXPECTED_TREE OPTION...
  local what="32-bit product, $1" box=$2 expected_tree=$3 tree
  shift 3
  WINEPREFIX=$prefix32
  prepare older 32
  launch run32 planted "$box" drvsetup.exe "$@"
  tree=$(wine_tree 'HKEY_LOCAL_MACHINE\Software\Wow6432Node\morvelan')
  if [ -n "$log" ]; then
    fail "$what: loaded the planted $(echo $log)"
  elif [ "$status" != 0 ]; then
    fail "$what: exit status $status, expected 0"
  elif [ "$tree" != "$expected_tree" ]; then
    fail "$what: its tree differs from the 64-bit program's:"
    diff <(echo "$expected_tree") <(echo "$tree") | head -10 || true
  else
    echo "ok $what: no planted library loaded, exit status 0, the 64-bit program's tree"
  fi
}

markers x86_64-w64-mingw32-gcc "$work/markers64"
damaged="$work/damaged.exe"
cp "$win64/drvsetup.exe" "$damaged"
# One bit of the script, which the integrity record guards.
size=$(stat -c %s "$damaged")
byte=$(od -An -tu1 -j $((size - 100)) -N1 "$damaged" | tr -d ' ')
printf "$(printf '\\%03o' $((byte ^ 1)))" |
  dd of="$damaged" bs=1 seek=$((size - 100)) conv=notrunc status=none
cp "$win64/drvsetup.exe" "$work/drvsetup-win98.exe"

WINEPREFIX=$prefix64
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
boot_wine_prefix || exit 1
folders "$prefix64" "$work/markers64" "$win64/drvsetup.exe" "$damaged" \
  "$work/drvsetup-win98.exe" "$win64/drvdb.exe"
"$wine64" reg add 'HKCU\Software\Wine\AppDefaults\drvsetup-win98.exe' /v Version /d win98 /f \
  </dev/null >/dev/null 2>&1

# The 32-bit product in a prefix of its own: each of its runs takes about a
# minute under qemu, so its silent update runs beside the 64-bit modes, and
# its box after them (one display, one box at a time).
product_pid=""
if [ -n "$win32" ]; then
  missing=$(wine32_missing)
  if [ -n "$missing" ]; then
    echo "skipped: the 32-bit product was not run: missing $missing"
    win32=""
  else
    markers i686-w64-mingw32-gcc "$work/markers32"
    prepare none
    launch "$wine64" clean nobox drvsetup.exe -ns -ne
    expected_tree=$(wine_tree 'HKEY_LOCAL_MACHINE\Software\morvelan')
    (if ! make_prefix_32 "$prefix32" >"$work/boot32.log" 2>&1; then
       cat "$work/boot32.log"
       exit 1
     fi
     folders "$prefix32" "$work/markers32" "$win32/drvsetup.exe"
     product "silent update" nobox "$expected_tree" -ns -ne
     [ "$failures" -eq 0 ]) &
    product_pid=$!
  fi
fi

WINEPREFIX=$prefix64
#    name                  state    expected box   program              options
mode "silent first install" none    0        nobox drvsetup.exe          -ns -ne
mode "update, silent"       older   0        nobox drvsetup.exe          -ns -ne
mode "second run"           current 1        nobox drvsetup.exe          -ns -ne
mode "update, its box"      older   0        box   drvsetup.exe
mode "the -v box"           current 0        box   drvsetup.exe          -v
mode "a damaged copy's box" older   255      box   damaged.exe
mode "non-NT family, update and its box" older 0 box drvsetup-win98.exe
mode "drvdb.exe --help"     none    0        nobox drvdb.exe             --help
mode "drvdb.exe check"      none    0        nobox drvdb.exe             check check.reg

if [ -n "$product_pid" ]; then
  if wait "$product_pid"; then
    product "update and its box" box "$expected_tree"
  else
    failures=$((failures + 1))
  fi
fi
[ "$failures" -eq 0 ]
