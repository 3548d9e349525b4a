# Makes the Wine prefix at $WINEPREFIX and judges it by whether it works,
# never by wineboot's exit status alone: with the 32-bit loader installed,
# wineboot cannot set up a new prefix's 32-bit half here and may report
# failure over a prefix that works. Sourced by the test scripts and the
# test runners.

wine64=${wine64:-/usr/lib/wine/wine64}

# A prefix works when its system folder is there, a program runs in it and
# hands back its exit code, and its registry holds what a boot writes (the
# server writes the registry's files only later). Nothing is run in a
# prefix without its system folder: Wine would make one.
wine_prefix_works() {
  [ -d "$WINEPREFIX/drive_c/windows/system32" ] || return 1
  local status=0
  "$wine64" cmd /c exit 7 </dev/null >/dev/null 2>&1 || status=$?
  [ "$status" -eq 7 ] &&
    "$wine64" reg query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' \
      /v CurrentVersion </dev/null >/dev/null 2>&1
}

# boot_wine_prefix [BOOT COMMAND...]: boots (by default "wine64 wineboot
# -i"), and boots again once when the prefix does not work. On failure each
# boot's exit status and standard error go to standard error.
boot_wine_prefix() {
  local boot=("$@") attempt status log
  [ ${#boot[@]} -gt 0 ] || boot=("$wine64" wineboot -i)
  log=$(mktemp)
  for attempt in 1 2; do
    status=0
    "${boot[@]}" </dev/null >/dev/null 2>"$log" || status=$?
    if wine_prefix_works; then
      rm -f "$log"
      return 0
    fi
    echo "Wine prefix $WINEPREFIX does not work after boot $attempt (exit status $status); its standard error:" >&2
    cat "$log" >&2
  done
  rm -f "$log"
  return 1
}
