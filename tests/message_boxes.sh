#!/usr/bin/env bash
# Shows each kind of message box of the Windows program under Wine on a
# virtual display, as a person would see it: finds the box by its title,
# saves a screenshot, presses Return on it and checks the exit code.
# usage: message_boxes.sh WIN64_BUILD OUTPUT_DIR   (run under xvfb-run)
set -euo pipefail
build=$1 out=$2
wine=/usr/lib/wine/wine64
title="Disc burning driver setup"
mkdir -p "$out"
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/drvsetup-boxes-XXXXXX)
export WINEDEBUG=-all
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
/usr/lib/wine/wineserver -p  # one server for all the runs
"$wine" wineboot -i >/dev/null 2>&1

# A copy of the image with a trailer that points far before the file's start.
corrupt="$WINEPREFIX/corrupt.exe"
cp "$build/drvsetup_image.exe" "$corrupt"
printf '\360\377\377\177' >> "$corrupt"

failures=0
# name, program, expected status, option...
show() {
  local name=$1 program=$2 expected=$3
  shift 3
  "$wine" "$program" "$@" &
  local pid=$! window=""
  for _ in $(seq 1 300); do
    window=$(xdotool search --name "^$title\$" 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    sleep 0.2
  done
  if [ -z "$window" ]; then
    echo "FAIL $name: no window titled \"$title\""
    kill "$pid" 2>/dev/null || true
    failures=$((failures + 1))
    return
  fi
  sleep 1  # let the box finish drawing
  import -window root "$out/$name.png"
  xdotool key --window "$window" Return
  local status=0
  wait "$pid" || status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "FAIL $name: exit status $status, expected $expected"
    failures=$((failures + 1))
  else
    echo "ok $name: box shown, dismissed, exit status $status ($out/$name.png)"
  fi
}

show updated "$build/drvsetup.exe" 0
show already-current "$build/drvsetup.exe" 1
show version "$build/drvsetup.exe" 0 -v
show corrupted "$corrupt" 255
[ "$failures" -eq 0 ]
