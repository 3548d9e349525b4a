# Makes the Wine prefix at $WINEPREFIX and judges it by whether it works,
# never by wineboot's exit status alone: with the 32-bit loader installed,
# wineboot cannot set up a new prefix's 32-bit half here and may report
# failure over a prefix that works. Also runs 32-bit programs through
# qemu-user, and reads a registry tree back as text. Sourced by the test
# scripts and the test runners.

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

# processes_with NAME=VALUE: the processes whose environment holds that
# setting, never the caller or its ancestors.
processes_with() {
  local entry pid=$BASHPID mine=" "
  while [ "$pid" -gt 1 ]; do
    mine="$mine$pid "
    pid=$(sed 's/.*) //' "/proc/$pid/stat" 2>/dev/null | cut -d' ' -f2)
    pid=${pid:-1}
  done
  for entry in /proc/[0-9]*; do
    [[ $mine == *" ${entry#/proc/} "* ]] && continue
    grep -qzxF "$1" "$entry/environ" 2>/dev/null && echo "${entry#/proc/}"
  done
  return 0
}

# wine_prefix_processes PREFIX: the processes of a prefix, its server
# included: those whose environment names it as their WINEPREFIX. Found by
# the environment, not by asking the server, which cannot be reached once
# the prefix's folder is gone.
wine_prefix_processes() {
  processes_with "WINEPREFIX=$1"
}

# end_wine_prefix PREFIX...: ends every process of each prefix, its server
# last, and waits for them; call it before the prefix's folder is removed.
# What the server does not end is killed.
end_wine_prefix() {
  local prefix pid
  for prefix in "$@"; do
    [ -n "$prefix" ] || continue
    if [ -d "$prefix" ]; then
      WINEPREFIX=$prefix /usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true
      WINEPREFIX=$prefix timeout 20 /usr/lib/wine/wineserver -w </dev/null >/dev/null 2>&1 || true
    fi
    for pid in $(wine_prefix_processes "$prefix"); do
      kill -9 "$pid" 2>/dev/null || true
    done
  done
}

# 32-bit Wine, through qemu-user: this machine's kernel cannot start 32-bit
# Linux programs, and nothing is registered with binfmt_misc.
wine32=/usr/lib/wine/wine
wine32_dlls=/usr/lib/i386-linux-gnu/wine/i386-windows

# What is missing to run 32-bit programs, or nothing.
wine32_missing() {
  local missing=""
  command -v qemu-i386-static >/dev/null ||
    missing="qemu-i386-static (package qemu-user-static)"
  [ -d "$wine32_dlls" ] && [ -x "$wine32" ] ||
    missing="${missing:+$missing, }32-bit Wine (package wine32:i386)"
  echo "$missing"
}

# make_prefix_32 PREFIX: a prefix with one server, whose 32-bit half is
# every 32-bit module of the system that is not a program: the libraries,
# the drivers (the display driver winex11.drv among them, without which no
# 32-bit window opens), and the rest. wineboot cannot set it up without
# running 32-bit programs. The 32-bit programs stay out: the prefix's own
# programs are the 64-bit ones. Leaves WINEPREFIX set to it.
make_prefix_32() {
  WINEPREFIX=$1
  /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
  boot_wine_prefix || return 1
  mkdir -p "$WINEPREFIX/drive_c/windows/syswow64"
  find "$wine32_dlls" -maxdepth 1 -type f ! -name '*.exe' ! -name '*.com' \
    -exec cp -t "$WINEPREFIX/drive_c/windows/syswow64/" {} +
  wine32_prefix_complete "$WINEPREFIX"
}

# wine32_prefix_complete PREFIX: fails, saying what is missing, when the
# prefix's 32-bit half lacks a module that every 32-bit window needs.
wine32_prefix_complete() {
  local module missing=""
  for module in winex11.drv user32.dll gdi32.dll; do
    [ -f "$1/drive_c/windows/syswow64/$module" ] || missing="$missing $module"
  done
  [ -z "$missing" ] && return 0
  echo "The 32-bit half of $1 lacks:$missing" >&2
  return 1
}

# The Wine channel that says why a program could not open a window (no
# display driver, no display): on for every run that should show a box.
wine_box_debug="-all,err+winediag"

# wine_box_reason FILE: the lines of a run's standard error that say why no
# box came, or a line saying that Wine gave none.
wine_box_reason() {
  local reason
  reason=$(grep -a 'winediag' "$1" 2>/dev/null | head -5 || true)
  echo "${reason:-Wine gave no reason on standard error}"
}

# press_until_gone WINDOW PID: presses Return on a box until the process
# that shows it has ended, for up to about two minutes: a box drawn under
# emulation can take a while to take keys. False when it never ended.
press_until_gone() {
  local _
  for _ in $(seq 1 60); do
    xdotool key --window "$1" Return 2>/dev/null || true
    sleep 1
    kill -0 "$2" 2>/dev/null || return 0
    sleep 1
    kill -0 "$2" 2>/dev/null || return 0
  done
  return 1
}

# run32 PROGRAM ARG...: about a minute of emulated start-up.
run32() {
  WINELOADERNOEXEC=1 QEMU_RESERVED_VA=0xffff0000 qemu-i386-static "$wine32" "$@" </dev/null
}

# wine_tree KEY: the registry tree under KEY as text, with KEY itself
# written as ROOT; nothing when there is no such key.
wine_tree() {
  local file
  file=$(mktemp "$WINEPREFIX/export-XXXXXX.reg")
  rm -f "$file"
  "$wine64" regedit /e "$file" "$1" </dev/null >/dev/null 2>&1 || true
  [ -f "$file" ] || return 0
  iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r' |
    awk -v key="[$1" 'index($0, key) == 1 { $0 = "[ROOT" substr($0, length(key) + 1) } { print }'
  rm -f "$file"
}
