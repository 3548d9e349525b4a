#!/usr/bin/env bash
# The cases where a cost once grew faster than the input, timed on the
# native program at growing sizes: each line should take time in proportion
# to its size. Needs the host build (cmake --preset host && cmake --build
# --preset host). DRVDB names another drvdb to pack the inputs with (the
# packed programs are the same bytes whichever packs them), so that an older
# build's program can be timed without its older tool.
# usage: [DRVDB=PATH] bash bench/linear.sh
set -euo pipefail
cd "$(dirname "$0")/.."
drvdb=${DRVDB:-build/host/drvdb}
work=$PWD/build/bench/linear
mkdir -p "$work"
export DRVSETUP_HIVE=$work/registry.hive
head='[HKEY_LOCAL_MACHINE\SOFTWARE\morvelan\DRIVER2]
"DriverVersion"=dword:00000047
'

seconds() {  # the wall time of one run, in seconds
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}

# The inputs are made to be costly, not to be shipped: every kind of finding
# is allowed.
allow=--allow=$("$drvdb" --help | sed -n '/^Kinds of finding/,/^$/p' |
  sed -n 's/^    \([a-z][a-z0-9-]*\)\( (error)\)\{0,1\}: .*/\1/p' | paste -sd,)

# name, size, awk program writing the script's body for n
measure() {
  local name=$1 n=$2 body=$3
  { printf '%s' "$head"; awk -v n="$n" "BEGIN { $body }"; } > "$work/script.reg"
  "$drvdb" pack --force --quiet "$allow" build/host/drvsetup_image \
    "$work/script.reg" "$work/program" 2>/dev/null
  rm -f "$DRVSETUP_HIVE"
  local install again
  install=$(seconds "$work/program" -ns -ne)
  again=$(seconds "$work/program" -v -ns -ne)
  printf '%-38s %8d: install %7s s, next run (-v) %7s s, %s bytes\n' \
    "$name" "$n" "$install" "$again" "$(stat -c %s "$work/script.reg")"
}

for n in 100000 200000 800000; do
  measure '\\ pairs in one value' $n \
    'printf "[HKEY_CURRENT_USER\\\\E]\n\"v\"=\""; for (i = 0; i < n; i++) printf "\\\\\\\\"; print "\""'
done
for n in 10000 40000 200000; do
  measure 'values in one section' $n \
    'print "[HKEY_CURRENT_USER\\V]"; for (i = 0; i < n; i++) printf "\"v%d\"=\"1\"\n", i'
done
for n in 50000 200000; do
  measure 'sections in reverse order' $n \
    'for (i = n; i > 0; i--) printf "[HKEY_CURRENT_USER\\R\\k%07d]\n", i'
done
# An installed database of n children, deleted by the update (NT: the shell
# library's deletion; non-NT: RegDeleteKeyA).
for family in nt 9x; do
  for n in 50000 200000; do
    { printf '%s' "$head"; awk -v n="$n" 'BEGIN { for (i = 0; i < n; i++) printf "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\k%d]\n", i }'; } |
      sed 's/00000047/00000046/' > "$work/old.reg"
    "$drvdb" pack --force --quiet "$allow" build/host/drvsetup_image "$work/old.reg" "$work/old" 2>/dev/null
    printf '%s' "$head" > "$work/new.reg"
    "$drvdb" pack --force --quiet "$allow" build/host/drvsetup_image "$work/new.reg" "$work/new" 2>/dev/null
    rm -f "$DRVSETUP_HIVE"
    DRVSETUP_PLATFORM=$family "$work/old" -ns -ne || true
    printf '%-38s %8d: update %7s s\n' "deleting children ($family)" $n \
      "$(DRVSETUP_PLATFORM=$family seconds "$work/new" -ns -ne)"
  done
done
