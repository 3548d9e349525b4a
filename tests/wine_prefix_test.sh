#!/usr/bin/env bash
# The Wine prefix is judged by whether it works, with injected failures:
#   - a boot that reports failure over a prefix that works passes;
#   - a boot that leaves no working prefix fails after a second boot, and
#     says each boot's exit status and standard error.
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
trap '/usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
status=0
boot_wine_prefix boot_then_report_failure 2>/dev/null || status=$?
check "a boot that reports failure over a working prefix passes" 0 "$status"
check "... booting once" 1 "$boots"
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
