#!/usr/bin/env bash
# Checks that drvdb.exe can never touch a machine's registry: its import
# table names no registry function (advapi32's Reg*, or the shell
# library's SHDeleteKey and SHReg*). Its engine calls the stand-in's
# functions of the same names, which stay inside the program.
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
echo "no registry function among $(echo "$imports" | wc -l) imports"
