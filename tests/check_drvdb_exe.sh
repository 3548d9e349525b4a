#!/usr/bin/env bash
# Checks that drvdb.exe can never touch a machine's registry: its import
# table names no registry function (advapi32's Reg*, or the shell
# library's SHDeleteKey and SHReg*). Its engine calls the stand-in's
# functions of the same names, which stay inside the program. And that it
# imports from KERNEL32 and msvcrt alone, the library search functions not
# among them.
# usage: check_drvdb_exe.sh OBJDUMP DRVDB_EXE
set -euo pipefail
objdump=$1 exe=$2
imports=$("$objdump" -p "$exe" | awk '
  /DLL Name:/ { dll = toupper($3); next }
  dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_0-9]+$/ { print dll "!" $NF }
  /^$/ { if (seen_table) dll = "" }
  /Hint\/Ord/ { seen_table = 1 }')
if [ -z "$imports" ]; then
  echo "FAIL: no imports found in $exe"
  exit 1
fi
echo "imports from: $(echo "$imports" | cut -d'!' -f1 | sort -u | tr '\n' ' ')"
registry=$(echo "$imports" | grep -Ei '^ADVAPI32\.DLL!Reg|!SHDeleteKey|!SHReg' || true)
if [ -n "$registry" ]; then
  echo "FAIL: drvdb.exe imports $(echo $registry)"
  exit 1
fi
# Maintainers run it from a kit folder that may hold downloaded files: a
# library imported statically is looked for there before its first line
# can limit the search, unless it is one of the system's known libraries.
others=$(echo "$imports" | cut -d'!' -f1 | sort -u | grep -Ev '^(KERNEL32|MSVCRT)\.DLL$' || true)
if [ -n "$others" ]; then
  echo "FAIL: drvdb.exe imports from $(echo $others): only KERNEL32 and msvcrt may be imported"
  exit 1
fi
if echo "$imports" | grep -qiE '!(SetDefaultDllDirectories|SetDllDirectory)'; then
  echo "FAIL: drvdb.exe imports the library search functions statically"
  exit 1
fi
echo "no registry function among $(echo "$imports" | wc -l) imports, all from KERNEL32 and msvcrt"
