#!/usr/bin/env bash
# Builds the native program with the sample database packed in and runs it
# twice against a fresh hive in the build tree: the first run installs, the
# second finds the database current.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_missing g++ cmake make libgtest-dev

cmake --preset host >/dev/null
cmake --build --preset host --target drvsetup_packed >/dev/null

export DRVSETUP_HIVE="$PWD/build/host/demo/registry.hive"
rm -rf build/host/demo

run() {
  set +e
  ./build/host/drvsetup "$@" 2>&1
  local status=$?
  set -e
  echo "exit status: $status"
}

echo "== first run"
run
echo "== second run"
run

# Keys and values of the installed database, counted from the hive's text.
awk '
  /^\[/ { inside = index($0, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2") == 1
          all_keys++; if (inside) keys++; next }
  /^"/  { all_values++; if (inside) values++ }
  END   { printf "hive %s: %d keys and %d values in all; DRIVER2 holds %d keys and %d values\n",
                 ENVIRON["DRVSETUP_HIVE"], all_keys, all_values, keys, values }
' "$DRVSETUP_HIVE"
