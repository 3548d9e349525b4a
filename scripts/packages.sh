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
# qemu-i386-static (nothing is registered with binfmt_misc). Answers false
# when they cannot be installed; the test that needs them then skips itself.
install_i386_wine() {
  if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed" &&
     command -v qemu-i386-static >/dev/null; then
    return 0
  fi
  echo "Installing: wine32:i386 qemu-user-static"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo dpkg --add-architecture i386 &&
    $sudo apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq wine32:i386 qemu-user-static >/dev/null
  # A 32-bit package's set-up script may fail to run here (it cannot start
  # 32-bit programs either); what counts is that the loader is there.
  [ -x /usr/lib/wine/wine ] && command -v qemu-i386-static >/dev/null
}
