# Installs the Debian packages named as arguments that are not installed yet.
# Sourced by the other scripts.
install_missing() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
      missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

# 32-bit Wine and qemu-user, to run the 32-bit program: this machine's kernel
# cannot start 32-bit Linux programs, so the 32-bit Wine loader runs under
# qemu-i386-static (nothing is registered with binfmt_misc). A mirror caught
# syncing serves package indexes of the wrong size, so the index download
# and the install are tried 3 times, 30 seconds apart. Answers false when
# they cannot be installed, with the reason in I386_WINE_PROBLEM; the tests
# that need them then skip their 32-bit runs.
I386_WINE_PROBLEM=""
install_i386_wine() {
  if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed" &&
     command -v qemu-i386-static >/dev/null; then
    return 0
  fi
  echo "Installing: wine32:i386 qemu-user-static"
  local sudo="" attempt log
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  log=$(mktemp)
  $sudo dpkg --add-architecture i386
  # A 32-bit package's set-up script may fail to run here (it cannot start
  # 32-bit programs either); what counts is that the loader is there.
  for attempt in 1 2 3; do
    [ "$attempt" -eq 1 ] || sleep 30
    $sudo apt-get update -qq >"$log" 2>&1 || true
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
      wine32:i386 qemu-user-static >>"$log" 2>&1 || true
    if [ -x /usr/lib/wine/wine ] && command -v qemu-i386-static >/dev/null; then
      rm -f "$log"
      return 0
    fi
    echo "Attempt $attempt to install 32-bit Wine failed: $(grep -m1 '^E:' "$log" || tail -1 "$log")"
  done
  I386_WINE_PROBLEM="32-bit Wine could not be installed after 3 attempts: $(grep -m1 '^E:' "$log" || tail -1 "$log")"
  rm -f "$log"
  return 1
}
