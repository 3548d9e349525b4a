#!/usr/bin/env bash
# Runs every command of the administrators' and the maintainers' guides
# (docs/deploying.md, docs/maintaining.md) as the guides write them, in a
# fresh folder holding a release kit's own files: its sample database, the
# previous release packed as a release packs it, and a test certificate.
# The Linux commands (```sh blocks) run in bash, each block with -e; the
# Windows commands (```bat blocks) run under Wine, each written to a CR LF
# .cmd file and run with wine64 cmd /c, a failing line ending it. A block
# fails the test when it does not end with the status it should: 0, or the
# one its marker gives.
#
# The guides mark their blocks with a comment on the line before:
#   <!-- exits N: WHY -->       the block ends with status N
#   <!-- file: NAME -->         the block is the file NAME, not commands
#   <!-- not run: WHY -->       the block cannot run here, and why
# and the steps that a maintainer makes by hand with a comment of their own,
# which the test carries out where it stands:
#   <!-- suite: new-drive -->   a new drive key (the guide's own bump then
#                               raises the version to 72)
#   <!-- suite: git-history --> the script in git: the last release's, then
#                               the changed one
#   <!-- suite: git-history-utf16 --> the same, the script kept as UTF-16LE
#
# On Windows the programs are the kit's drvdb.exe and, for the
# administrators' commands, the 64-bit program as drvsetup.exe; the product's
# 32-bit view is filled from the kit's sample (reg import /reg:32), as an
# installed product would have it, so that the /reg:32 commands show it.
# Without a Windows build the Windows commands are skipped, and so is
# signing (there is no Windows image to sign).
# usage: guide_commands.sh SOURCE HOST_BUILD [WIN64_BUILD] [KITS]
set -euo pipefail
source=$1 host=$2 win64=${3:-} kits=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_prefix.sh"
work=$(mktemp -d /tmp/drvsetup-guides-XXXXXX)
stop() {
  end_wine_prefix "$work/prefix"
  rm -rf "$work"
}
trap stop EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# Each guide's blocks, in order: an index of "N<TAB>LANG<TAB>MARK" lines
# (MARK: run, exits:N, file:NAME, not-run:WHY, or suite:ACTION for a step
# that the suite makes), and each block's text in blocks/N.
mkdir -p "$work/blocks"
for guide in deploying maintaining; do
  awk -v dir="$work/blocks" -v guide="$guide" '
    /^<!-- suite: .* -->$/ { sub(/^<!-- suite: /, ""); sub(/ -->$/, "");
      printf "-\t-\tsuite:%s\t%s\n", $0, guide; next }
    /^<!-- (exits [0-9]+|file|not run): .* -->$/ {
      mark = $0; sub(/^<!-- /, "", mark); sub(/ -->$/, "", mark)
      if (mark ~ /^exits /) { sub(/^exits /, "exits:", mark); sub(/:[^:]*$/, "", mark) }
      else if (mark ~ /^file: /) sub(/^file: /, "file:", mark)
      else sub(/^not run: /, "not-run:", mark)
      pending = mark; next }
    /^```/ {
      if (!inblock) { inblock = 1; lang = substr($0, 4); n = guide "-" ++count
        file = dir "/" n; printf "" > file; next }
      inblock = 0; close(file)
      printf "%s\t%s\t%s\t%s\n", n, lang, pending == "" ? "run" : pending, guide
      pending = ""; next }
    inblock { print > file; next }
    /^<!--/ { next }
    /./ { pending = "" }' "$source/docs/$guide.md"
done > "$work/index"
[ -s "$work/index" ] || { echo "FAIL no blocks found in the guides"; exit 1; }

# The kit's own files for a platform, in folder: from the release kit when
# there is one, else from the builds.
kit_files() {  # platform folder
  mkdir -p "$2"
  local archive=""
  [ -n "$kits" ] && archive=$(ls "$kits"/drvsetup-kit-*-"$1".* 2>/dev/null | head -1)
  if [ -n "$archive" ]; then
    (cd "$2" && cmake -E tar xf "$archive" && mv drvsetup-kit-*/* . && rmdir drvsetup-kit-*)
  elif [ "$1" = linux-x86_64 ]; then
    cp "$host/drvdb" "$2/drvdb"
    if [ -n "$win64" ]; then
      cp "$win64/drvsetup_image.exe" "$2/"
    else
      cp "$host/drvsetup_image" "$2/drvsetup_image.exe"  # not a Windows image
    fi
    cp "$source/data/drives.reg" "$2/"
  else
    cp "$win64/drvdb.exe" "$win64/drvsetup_image.exe" "$2/"
    cp "$source/data/drives.reg" "$2/"
  fi
  cp "$2/drives.reg" "$2/.kit-drives.reg"  # as the kit has it
  # The previous release, packed from the kit's sample as a release is.
  "$host/drvdb" pack --quiet "$2/drvsetup_image.exe" "$2/drives.reg" \
    "$2/drvsetup-last.exe"
}

# Whether a script is UTF-16LE: its byte-order mark.
is_utf16() {  # script
  [ "$(head -c 2 "$1" | od -An -tx1 | tr -d ' ')" = fffe ]
}

# A script's text as UTF-8 without CRs, and back in the encoding of like.
as_text() {  # script
  if is_utf16 "$1"; then iconv -f UTF-16 -t UTF-8 "$1"; else cat "$1"; fi | tr -d '\r'
}
encoded_like() {  # script, from standard input
  if is_utf16 "$1"; then
    printf '\377\376'
    sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE
  else
    sed 's/$/\r/'
  fi
}

# A new drive key, spelt as the script spells the database key: what a
# maintainer does in an editor, here to the script in its own encoding (the
# kit's and an export are UTF-16LE with their byte-order mark; a script
# kept on Linux is UTF-8). The guide's own step raises the version.
new_drive() {  # script
  local text database
  text=$(as_text "$1")
  database=$(grep -m1 -i '^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\]$' <<<"$text")
  printf '%s\n\n%s\\MAPPINGS\\NEWCO   DW-1000]\n"load1"="MMC-Writer"\n"Caps_WriteMaxSpeed"="8310"\n' \
    "$text" "${database%]}" | encoded_like "$1" > "$1.new"
  mv "$1.new" "$1"
}

# The script in git: the last release's, then the changed one, both in the
# encoding that the folder keeps it in.
git_history() {  # folder
  (cd "$1" && rm -rf .git .gitattributes && git init -q . &&
    git config user.email guides@example.com && git config user.name guides &&
    cp drives.reg .changed.reg && as_text .kit-drives.reg | encoded_like .changed.reg >drives.reg &&
    git add drives.reg && git commit -q -m "the last release" &&
    cp .changed.reg drives.reg && git commit -q -am "a new drive")
}

# The same history, the script kept as UTF-16LE, as an export is.
git_history_utf16() {  # folder
  (cd "$1" && cp drives.reg .kept.reg &&
    { printf '\377\376'; as_text .kept.reg | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE; } >drives.reg &&
    git_history . && mv .kept.reg drives.reg.utf8) &&
    is_utf16 "$1/drives.reg"
}

# The status a block should end with.
expected() { case $1 in exits:*) echo "${1#exits:}" ;; *) echo 0 ;; esac; }

# A block that is no commands: one that cannot run here (said, with why)
# or a file to write. True when it was one.
not_commands() {  # guide n mark folder line-end
  case $3 in
    not-run:?*) echo "not run ($1, block $2): ${3#not-run:}" ;;
    not-run:) fail "$1: block $2 is not run, and says not why" ;;
    file:*) sed "s/\$/$5/" "$work/blocks/$2" > "$4/${3#file:}" ;;
    *) return 1 ;;
  esac
}

# Whether a block ended as it should; what it said when it did not.
judge() {  # guide n mark platform status
  if [ "$5" != "$(expected "$3")" ]; then
    fail "$1, $4 block $2: exit status $5, expected $(expected "$3"):"
    sed 's/^/    /' "$work/blocks/$2"
    tail -20 "$work/out" | sed 's/^/  | /'
  else
    echo "ok $1, $4 block $2: $(head -1 "$work/blocks/$2" | cut -c1-60)"
  fi
}

# The guide's release is one greater than the last: its bump ran once.
released() {  # platform folder
  local said
  said=$("$host/drvdb" check "$2/drives.reg" 2>&1 | tail -1)
  case $said in
    *"version 72 (dword:00000048)"*) echo "ok the $1 guide's release is version 72" ;;
    *) fail "the $1 guide's release is not version 72: $said" ;;
  esac
}

run_linux() {
  local folder=$work/linux n lang mark guide status
  kit_files linux-x86_64 "$folder"
  # A test certificate for the guide's release.pfx, its password and the
  # certificate that verifies it.
  echo "a test password" > "$folder/release.pass"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$folder/key.pem" \
    -out "$folder/ca.pem" -days 2 -subj "/CN=drvsetup guides" 2>/dev/null
  openssl pkcs12 -export -inkey "$folder/key.pem" -in "$folder/ca.pem" \
    -out "$folder/release.pfx" -passout file:"$folder/release.pass"
  local signable=1
  head -c 2 "$folder/drvsetup_image.exe" | grep -q MZ || signable=0
  while IFS=$'\t' read -r n lang mark guide; do
    case $mark in
      suite:new-drive) new_drive "$folder/drives.reg"; continue ;;
      suite:git-history) git_history "$folder"; continue ;;
      suite:git-history-utf16) git_history_utf16 "$folder" || fail "no UTF-16 history"; continue ;;
      suite:*) fail "$guide: no such step for the suite: $mark"; continue ;;
    esac
    [ "$lang" = sh ] || continue
    not_commands "$guide" "$n" "$mark" "$folder" "" && continue
    if [ "$signable" = 0 ] && grep -q osslsigncode "$work/blocks/$n"; then
      # What signing would write, unsigned, for the steps after it.
      echo "skipped ($guide, block $n): no Windows image to sign"
      cp "$folder/drvsetup-unsigned.exe" "$folder/drvsetup.exe"
      continue
    fi
    status=0
    (cd "$folder" && bash -e -o pipefail "$work/blocks/$n") >"$work/out" 2>&1 || status=$?
    judge "$guide" "$n" "$mark" Linux "$status"
  done <"$work/index"
  released Linux "$folder"
}

# A Windows block as a .cmd file with CR LF line ends, each command
# followed by a test of its status, so that a failing line ends the block.
cmd_file() {  # block out
  awk '{ print }
    !/^[ \t]*(@?echo|rem |@|exit|$)/ { print "@if %errorlevel% neq 0 exit /b %errorlevel%" }' \
    "$1" | sed 's/$/\r/' > "$2"
}

# install.cmd, as the administrators' guide writes it, over each of the
# program's outcomes (the failing import a version above the installed
# one) and a missing program: 0 for the program's 0 and 1,
# every other code passed on, each said and logged.
install_cmd_codes() {  # folder
  local folder=$1 at name code expected log status
  [ -f "$folder/install.cmd" ] || { fail "the guide wrote no install.cmd"; return; }
  local image=$win64/drvsetup_image.exe
  printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n' >"$work/unversioned.reg"
  printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"DriverVersion"=dword:000000ff\r\n"x"=hex:00\r\n' \
    >"$work/failing.reg"
  for name in updated current damaged unversioned failing missing; do
    mkdir -p "$folder/codes-$name"
    cp "$folder/install.cmd" "$folder/codes-$name/"
  done
  cp "$win64/drvsetup.exe" "$folder/codes-updated/"
  cp "$win64/drvsetup.exe" "$folder/codes-current/"
  cp "$win64/drvsetup.exe" "$folder/codes-damaged/"
  at=$(($(stat -c %s "$win64/drvsetup.exe") - 100))
  printf "$(printf '\\%03o' $(( $(od -An -tu1 -j $at -N1 "$win64/drvsetup.exe") ^ 1 )))" |
    dd of="$folder/codes-damaged/drvsetup.exe" bs=1 seek=$at conv=notrunc status=none
  for name in unversioned failing; do
    "$host/drvdb" pack --force --quiet "$image" "$work/$name.reg" \
      "$folder/codes-$name/drvsetup.exe" 2>/dev/null || fail "install.cmd: no $name program"
  done
  "$wine64" reg delete 'HKLM\Software\morvelan' /f </dev/null >/dev/null 2>&1 || true
  # The log, through batch files: cmd /c mangles a quoted path given to it.
  printf '@if exist "%%TEMP%%\\drvsetup-install.log" del "%%TEMP%%\\drvsetup-install.log"\r\n' \
    >"$folder/forget-log.cmd"
  printf '@type "%%TEMP%%\\drvsetup-install.log"\r\n' >"$folder/show-log.cmd"
  (cd "$folder" && "$wine64" cmd /c forget-log.cmd </dev/null >/dev/null 2>&1) || true
  #  folder       install.cmd's code  what it says
  while read -r name code expected; do
    status=0
    (cd "$folder/codes-$name" && "$wine64" cmd /c install.cmd </dev/null) >"$work/out" 2>&1 ||
      status=$?
    if [ "$status" -ne $((code & 255)) ] || ! grep -q "drive database $expected" "$work/out"; then
      fail "install.cmd over the $name program: exit status $status, expected $((code & 255)) ($code) and \"$expected\":"
      sed 's/^/  | /' "$work/out"
    else
      echo "ok install.cmd over the $name program: $code, \"$(tr -d '\r' <"$work/out")\""
    fi
  done <<'CODES'
updated      0     updated (exit code 0)
current      0     already current (exit code 1)
damaged      -1    failed (exit code -1)
unversioned  -2    failed (exit code -2)
failing      -3    failed (exit code -3)
missing      9009  failed (exit code 9009)
CODES
  log=$(cd "$folder" && "$wine64" cmd /c show-log.cmd </dev/null 2>/dev/null | tr -d '\r' |
    sed 's/.*drive database //') || true
  [ "$log" = "$(printf '%s\n' 'updated (exit code 0)' 'already current (exit code 1)' \
      'failed (exit code -1)' 'failed (exit code -2)' 'failed (exit code -3)' \
      'failed (exit code 9009)')" ] &&
    echo "ok install.cmd logged each of its $(wc -l <<<"$log") runs" ||
    fail "install.cmd's log holds: $log"
}

run_windows() {
  local folder n lang mark guide status last=""
  export WINEPREFIX=$work/prefix WINEDEBUG=-all
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
  boot_wine_prefix || { fail "no Wine prefix"; return; }
  folder=$WINEPREFIX/drive_c/kit
  kit_files windows-x64 "$folder"
  cp "$win64/drvsetup.exe" "$folder/drvsetup.exe"
  (cd "$folder" && "$wine64" reg import drives.reg /reg:32 </dev/null >/dev/null 2>&1) ||
    fail "the 32-bit view could not be filled"
  while IFS=$'\t' read -r n lang mark guide; do
    # The maintainers start from an installed database, which the
    # administrators' guide ends by removing.
    if [ "$guide" != "$last" ] && [ "$guide" = maintaining ]; then
      (cd "$folder" && "$wine64" reg import drives.reg /reg:32 </dev/null >/dev/null 2>&1) ||
        fail "the 32-bit view could not be filled again"
    fi
    last=$guide
    case $mark in
      suite:new-drive) new_drive "$folder/drives.reg"; continue ;;
      suite:*) continue ;;  # the others are the Linux commands'
    esac
    [ "$lang" = bat ] || continue
    not_commands "$guide" "$n" "$mark" "$folder" '\r' && continue
    cmd_file "$work/blocks/$n" "$folder/block-$n.cmd"
    status=0
    (cd "$folder" && "$wine64" cmd /c "block-$n.cmd" </dev/null) >"$work/out" 2>&1 || status=$?
    judge "$guide" "$n" "$mark" Windows "$status"
  done <"$work/index"
  released Windows "$folder"
  install_cmd_codes "$folder"
}

run_linux
if [ -n "$win64" ]; then
  run_windows
else
  echo "skipped: the Windows commands (no win64 build given)"
fi
[ "$failures" -eq 0 ]
