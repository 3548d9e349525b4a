#!/usr/bin/env bash
# Shows each kind of message box of the Windows program under Wine on a
# virtual display (the version box on both platform families), as a person
# would see it: finds the box by its title, saves a picture of it with the
# frame and title bar that Wine draws itself (no window manager runs on the
# display), presses Return on it and checks the exit code. Compares each
# picture with the one in EXPECTED_DIR, when given: not one pixel may differ
# (compare -metric AE). Checks with Wine's loader trace that USER32 is
# loaded only by a run that shows a box: a silent run ("-ns -ne") never
# loads it.
# usage: message_boxes.sh WIN64_BUILD OUTPUT_DIR [EXPECTED_DIR]
#        (run under xvfb-run; scripts/box_pictures.sh makes docs/boxes)
set -euo pipefail
build=$1 out=$2 reference=${3:-}
wine=/usr/lib/wine/wine64
title="Disc burning driver setup"
mkdir -p "$out"
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/drvsetup-boxes-XXXXXX)
export WINEDEBUG=-all
. "$(dirname "$0")/wine_prefix.sh"
trap 'end_wine_prefix "$WINEPREFIX"; rm -rf "$WINEPREFIX"' EXIT
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1  # one server for all the runs
boot_wine_prefix || exit 1

# Wine draws each window's frame and title bar itself.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1

# A copy of the image with a trailer that points far before the file's start.
corrupt="$WINEPREFIX/corrupt.exe"
cp "$build/drvsetup_image.exe" "$corrupt"
printf '\360\377\377\177' >> "$corrupt"

# Copies packed by other means (image, script, length): one without a
# version line, one whose import fails.
packed() {  # OUTPUT, then the script's text
  local script="$WINEPREFIX/script.bin" size
  { printf '\377\376'; printf '%s' "$2" | iconv -f UTF-8 -t UTF-16LE; } > "$script"
  size=$(stat -c %s "$script")
  { cat "$build/drvsetup_image.exe" "$script"
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((size & 255)) \
      $((size >> 8 & 255)) $((size >> 16 & 255)) 0)"; } > "$1"
}
invalid="$WINEPREFIX/invalid.exe"
packed "$invalid" $'[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n'
failing="$WINEPREFIX/failing.exe"
packed "$failing" $'[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"DriverVersion"=dword:00000047\r\n"x"=hex:00\r\n'

failures=0

# The libraries that the program itself loaded, from Wine's loader trace on
# standard error (FILE), by the thread that loaded the program.
libraries() {
  local thread
  thread=$(grep -m1 -i 'loaddll.*Loaded.*drvsetup' "$1" | cut -d: -f1)
  grep "^$thread:trace:loaddll" "$1" | sed 's/.*Loaded L"//; s/".*//; s/.*\\//' |
    tr 'A-Z' 'a-z'
}
trace="$WINEPREFIX/loaddll.txt"
WINEDEBUG=+loaddll "$wine" "$build/drvsetup.exe" -ns -ne 2>"$trace" || true
silent=$(libraries "$trace")
if [ -z "$silent" ] || grep -qx user32.dll <<<"$silent"; then
  echo "FAIL a silent run loaded: $(echo $silent)"
  failures=$((failures + 1))
else
  echo "ok a silent run loads only: $(echo $silent)"
fi
"$wine" reg delete 'HKLM\Software\morvelan' /f >/dev/null 2>&1 || true

# name, program, expected status, option...
show() {
  local name=$1 program=$2 expected=$3
  shift 3
  WINEDEBUG="$wine_box_debug,+loaddll" "$wine" "$program" "$@" 2>"$trace" &
  local pid=$! window=""
  for _ in $(seq 1 300); do
    window=$(xdotool search --name "^$title\$" 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    sleep 0.2
  done
  if [ -z "$window" ]; then
    echo "FAIL $name: no window titled \"$title\"; Wine's reason: $(wine_box_reason "$trace")"
    kill "$pid" 2>/dev/null || true
    failures=$((failures + 1))
    return
  fi
  sleep 1  # let the box finish drawing
  import -window "$window" "$out/$name.png"
  if ! press_until_gone "$window" "$pid"; then
    echo "FAIL $name: the box never closed"
    kill "$pid" 2>/dev/null || true
    failures=$((failures + 1))
    return
  fi
  local status=0
  wait "$pid" || status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "FAIL $name: exit status $status, expected $expected"
    failures=$((failures + 1))
  elif ! libraries "$trace" | grep -qx user32.dll; then
    echo "FAIL $name: the box came without USER32 in the loader trace"
    failures=$((failures + 1))
  else
    echo "ok $name: box shown, dismissed, exit status $status ($out/$name.png)"
  fi
  if [ -n "$reference" ]; then
    local differ
    differ=$(compare -metric AE "$reference/$name.png" "$out/$name.png" null: 2>&1 || true)
    if [ "$differ" != "0" ]; then
      echo "FAIL $name: $differ pixel(s) differ from $reference/$name.png"
      failures=$((failures + 1))
    fi
  fi
}

show updated "$build/drvsetup.exe" 0
show already-current "$build/drvsetup.exe" 1
show version "$build/drvsetup.exe" 0 -v
show corrupted "$corrupt" 255
show not-valid "$invalid" 254
"$wine" reg delete 'HKLM\Software\morvelan' /f >/dev/null 2>&1 || true
show install-failed "$failing" 253
# The version box on the non-NT family: Wine reports Windows 98 to this
# copy alone.
"$wine" reg add 'HKCU\Software\Wine\AppDefaults\drvsetup-win98.exe' /v Version /d win98 /f >/dev/null 2>&1
cp "$build/drvsetup.exe" "$WINEPREFIX/drvsetup-win98.exe"
show version-non-nt "$WINEPREFIX/drvsetup-win98.exe" 0 -v
[ "$failures" -eq 0 ]
