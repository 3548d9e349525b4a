#!/usr/bin/env bash
# Writes a release kit's README.txt from the maintainers' guide, so that the
# workflow is written once: the steps between the guide's kit markers, with
# the platform's own commands (a step that has none keeps the other
# platform's: the export is made on Windows), as plain text. The Windows
# kit's has CR LF line ends.
# usage: scripts/kit_readme.sh linux-x86_64|windows-x64 [GUIDE]
set -euo pipefail
platform=$1
guide=${2:-$(dirname "$0")/../docs/maintaining.md}
case $platform in
  linux-x86_64)
    title="drvsetup release kit for Linux (x86-64)"
    tool="drvdb                checks, packs and inspects the drive database
                     (static: it needs no shared library)
drvdb.1              its manual page: man ./drvdb.1"
    own=sh ;;
  windows-x64)
    title="drvsetup release kit for Windows (x64)"
    tool="drvdb.exe            checks, packs and inspects the drive database"
    own=bat ;;
  *) echo "kit_readme.sh: no kit for $platform" >&2; exit 2 ;;
esac

body() {
  awk -v own="$own" '
    /^<!-- kit -->$/ { on = 1; next }
    /^<!-- \/kit -->$/ { on = 0 }
    !on { next }
    # A step: its lines, held until its end, when it is known whether it
    # has a block of the platform'"'"'s own.
    /^### / { flush(); sub(/^### /, ""); held[n++] = $0; next }
    /^<!--/ { next }
    /^```/ {
      if (!inblock) { inblock = 1; lang = substr($0, 4); start = n; next }
      inblock = 0; blocks[start] = lang; ends[start] = n; mine = mine || lang == own
      next
    }
    inblock { held[n++] = "    " $0; next }
    { gsub(/`/, ""); held[n++] = $0 }
    END { flush() }
    function flush(   i, keep) {
      for (i = 0; i < n; i++) {
        if (i in blocks) {
          keep = blocks[i] == own || !mine
          if (!keep) { i = ends[i] - 1; continue }
        }
        print held[i]
      }
      n = 0; mine = 0; delete held; delete blocks; delete ends
    }' "$guide" | cat -s
}

{
  echo "$title"
  echo "$title" | sed 's/./=/g'
  echo
  echo "$tool"
  echo "drvsetup_image.exe   the setup program without its database (32-bit"
  echo "                     Windows)"
  echo "drives.reg           the sample database, which allows its quirks"
  echo "                     where they stand"
  echo
  body
  echo
  echo "drvdb --help lists every command, option, kind of finding and exit"
  echo "status; the project's docs/maintaining.md is the whole guide."
} | if [ "$platform" = windows-x64 ]; then sed 's/$/\r/'; else cat; fi
