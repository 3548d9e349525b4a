#!/usr/bin/env bash
# The Wine prefix is judged by whether it works, with injected failures:
#   - a boot that reports failure over a prefix that works passes;
#   - a boot that leaves no working prefix fails after a second boot, and
#     says each boot's exit status and standard error;
#   - the 32-bit half gets every module that is not a program, drivers
#     included, and none of the programs; one that lacks the display driver
#     is refused, by name.
set -euo pipefail
. "$(dirname "$0")/wine_prefix.sh"
export WINEDEBUG=-all WINEPREFIX
failures=0
check() {  # what, expected, actual
  [ "$3" -eq "$2" ] && echo "ok $1" && return
  echo "FAIL $1: $3, expected $2"
  failures=$((failures + 1))
}

boots=0
boot_then_report_failure() {
  boots=$((boots + 1))
  "$wine64" wineboot -i
  echo "injected: wineboot reports failure" >&2
  return 1
}
boot_nothing() {
  boots=$((boots + 1))
  echo "injected: cannot boot" >&2
  return 3
}

WINEPREFIX=$(mktemp -d /tmp/drvsetup-prefix-XXXXXX)
trap 'end_wine_prefix "$WINEPREFIX"; rm -rf "$WINEPREFIX"' EXIT
status=0
boot_wine_prefix boot_then_report_failure 2>/dev/null || status=$?
check "a boot that reports failure over a working prefix passes" 0 "$status"
check "... booting once" 1 "$boots"

# The 32-bit half, from a folder standing in for the system's 32-bit
# modules.
modules=$(mktemp -d)
# Each stand-in holds its own name, so that a copy is told from what a boot
# may have put in the 32-bit half already (it does, where the 32-bit loader
# sets that half up).
for name in user32.dll gdi32.dll winex11.drv wineps.drv mountmgr.sys msacm32.acm notepad.exe chcp.com; do
  echo "stand-in $name" > "$modules/$name"
done
status=0
wine32_dlls=$modules make_prefix_32 "$WINEPREFIX" 2>/dev/null || status=$?
check "a 32-bit half with every module" 0 "$status"
copied=""
for name in $(ls "$modules" | sort); do
  [ "$(cat "$WINEPREFIX/drive_c/windows/syswow64/$name" 2>/dev/null)" != "stand-in $name" ] ||
    copied="$copied$name "
done
[ "$copied" = "gdi32.dll mountmgr.sys msacm32.acm user32.dll wineps.drv winex11.drv " ] ||
  { echo "FAIL the 32-bit half got from the modules' folder: $copied"; failures=$((failures + 1)); }
rm -rf "$WINEPREFIX/drive_c/windows/syswow64" "$modules/winex11.drv"
status=0
report=$(wine32_dlls=$modules make_prefix_32 "$WINEPREFIX" 2>&1) || status=$?
check "a 32-bit half without the display driver is refused" 1 "$status"
grep -q 'lacks: winex11.drv' <<<"$report" ||
  { echo "FAIL the refusal does not name the display driver: $report"; failures=$((failures + 1)); }
rm -rf "$modules"
/usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX" && mkdir "$WINEPREFIX"

boots=0 status=0
report_file=$(mktemp)
boot_wine_prefix boot_nothing 2>"$report_file" || status=$?
report=$(cat "$report_file") && rm -f "$report_file"
check "a boot that leaves no working prefix fails" 1 "$status"
check "... after booting twice" 2 "$boots"
[ "$(grep -c 'injected: cannot boot' <<<"$report")" -eq 2 ] &&
  grep -q 'exit status 3' <<<"$report" ||
  { echo "FAIL the report lacks the boots' status and standard error: $report"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ]
