#!/usr/bin/env bash
# Proves that a change of drvdb's structure changes nothing a user sees:
# builds BEFORE and AFTER (commits; AFTER defaults to HEAD) one after the
# other in the same folder, so that every path is the same, runs every
# command and option of drvdb that the suite uses, in text and JSON, over
# the same inputs, and requires the two builds' statuses, standard output,
# standard error and written files to be byte for byte the same.
#
# The inputs: the sample database; the fuzzers' seed corpora (make_seeds),
# as the scripts the program carries; the differential test's generated
# scripts for seeds 1 to SCRIPTS (default 200); and one program image to
# pack them into. They are made once, by this checkout's build/host (built
# if needed).
# usage: scripts/compare_builds.sh BEFORE [AFTER] [SCRIPTS]
set -euo pipefail
cd "$(dirname "$0")/.."
before=$1 after=${2:-HEAD} scripts=${3:-200}
root=$PWD
work=$(mktemp -d /tmp/drvdb-compare-XXXXXX)
src=$work/src
trap 'git -C "$root" worktree remove --force "$src" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

# The inputs, made once.
cmake --preset host >/dev/null
cmake --build --preset host --target make_seeds comparison_inputs \
  drvsetup_image >/dev/null
inputs=$work/inputs
mkdir -p "$inputs"
build/host/make_seeds data/drives.reg "$work/seeds" >/dev/null
build/host/tests/comparison_inputs "$inputs" 1 "$scripts" \
  "$work/seeds/check" "$work/seeds/import"
cp data/drives.reg "$inputs/sample.reg"
image=$work/image
cp build/host/drvsetup_image "$image"

allow_everything() {  # every kind the build's --help lists
  "$1" --help | awk '/^Kinds of finding/ { on = 1; next } /^$/ { on = 0 }
    on && /^    [a-z0-9-]+/ { sub(/^    /, ""); sub(/[: ].*/, ""); printf "%s,", $0 }'
}

# Runs one call and writes what it did: the call, its status, its standard
# output and error, and the files it wrote.
call() {  # DRVDB OUT ARG...
  local drvdb=$1 out=$2
  shift 2
  local status=0
  rm -f "$work/written"
  "$drvdb" "$@" >"$work/stdout" 2>"$work/stderr" </dev/null || status=$?
  {
    echo "\$ drvdb $*"
    echo "status $status"
    echo "--- stdout"
    cat "$work/stdout"
    echo "--- stderr"
    cat "$work/stderr"
    if [ -f "$work/written" ]; then
      echo "--- written: $(cksum <"$work/written")"
    fi
  } >>"$out"
  calls=$((calls + 1))
}

# bump over a copy of an input, and what it left of the copy.
bump() {  # DRVDB OUT INPUT OPTION...
  cp "$3" "$work/bump.reg"
  call "$1" "$2" bump "${@:4}" "$work/bump.reg"
  echo "--- bumped: $(cksum <"$work/bump.reg")" >>"$2"
}

# Every command and option over every input, and the wrong calls.
run_all() {  # DRVDB IMAGE OUT
  local drvdb=$1 image=$2 out=$3 everything input packed="$work/sample.exe"
  everything="--allow=$(allow_everything "$drvdb")"
  local sample_allow=--allow=missing-bracket,repeated-header,letter-case
  calls=0
  : >"$out"
  call "$drvdb" "$out" --help
  call "$drvdb" "$out" -h
  call "$drvdb" "$out" help
  call "$drvdb" "$out"
  call "$drvdb" "$out" frobnicate
  call "$drvdb" "$out" check
  call "$drvdb" "$out" check --allow=everything "$inputs/sample.reg"
  call "$drvdb" "$out" check --allow=short-version,no-such-kind "$inputs/sample.reg"
  call "$drvdb" "$out" check --no-such-option "$inputs/sample.reg"
  call "$drvdb" "$out" pack "$image" "$inputs/sample.reg"
  call "$drvdb" "$out" pack --newer-than
  call "$drvdb" "$out" info
  call "$drvdb" "$out" info "$work/absent"
  call "$drvdb" "$out" info "$work"
  call "$drvdb" "$out" info "$image"
  call "$drvdb" "$out" extract "$image"
  call "$drvdb" "$out" extract "$image" --help
  call "$drvdb" "$out" diff "$inputs/sample.reg"
  call "$drvdb" "$out" bump
  call "$drvdb" "$out" "/?"
  call "$drvdb" "$out" check -h
  call "$drvdb" "$out" pack "/?"
  call "$drvdb" "$out" check --allow lettercase "$inputs/sample.reg"
  call "$drvdb" "$out" check --allow
  call "$drvdb" "$out" check --format xml "$inputs/sample.reg"
  call "$drvdb" "$out" bump --to
  call "$drvdb" "$out" bump --to 4294967296 "$inputs/sample.reg"
  call "$drvdb" "$out" bump "$image"
  call "$drvdb" "$out" bump -
  call "$drvdb" "$out" pack "$image" "$inputs/sample.reg" "$inputs/sample.reg"
  call "$drvdb" "$out" pack "$sample_allow" --quiet "$image" "$inputs/sample.reg" "$work/written"
  cp "$work/written" "$packed"
  call "$drvdb" "$out" pack "$sample_allow" "$packed" "$inputs/sample.reg" "$work/written"
  call "$drvdb" "$out" pack "$sample_allow" "$image" "$inputs/sample.reg" "$packed"
  for input in "$inputs"/*.reg; do
    call "$drvdb" "$out" check "$input"
    call "$drvdb" "$out" check --werror "$input"
    call "$drvdb" "$out" check --format=json "$input"
    call "$drvdb" "$out" check --format=text "$sample_allow" "$input" "$inputs/sample.reg"
    call "$drvdb" "$out" check --werror --format=json "$everything" "$input"
    call "$drvdb" "$out" check --show-allowed --format json --allow "${everything#--allow=}" "$input"
    call "$drvdb" "$out" check --show-allowed "$input"
    call "$drvdb" "$out" pack "$image" "$input" "$work/written"
    call "$drvdb" "$out" pack --quiet "$image" "$input" "$work/written"
    call "$drvdb" "$out" pack --show-allowed "$image" "$input" "$work/written"
    call "$drvdb" "$out" pack --force --quiet "$everything" "$image" "$input" "$work/written"
    if [ -f "$work/written" ]; then
      cp "$work/written" "$work/forced.exe"
      call "$drvdb" "$out" info "$work/forced.exe"
      call "$drvdb" "$out" extract "$work/forced.exe" "$work/written"
      call "$drvdb" "$out" extract "$work/forced.exe" -
      call "$drvdb" "$out" check "$work/forced.exe"
      call "$drvdb" "$out" pack --replace --force "$everything" "$work/forced.exe" "$inputs/sample.reg" "$work/written"
      call "$drvdb" "$out" diff "$work/forced.exe" "$input"
      rm -f "$work/forced.exe"
    fi
    call "$drvdb" "$out" pack --newer-than "$packed" "$everything" "$image" "$input" "$work/written"
    call "$drvdb" "$out" pack --newer-than="$input" "$image" "$inputs/sample.reg" "$work/written"
    call "$drvdb" "$out" pack --newer-than "$input" --allow decimal-version "$image" "$inputs/sample.reg" "$work/written"
    call "$drvdb" "$out" diff "$inputs/sample.reg" "$input"
    call "$drvdb" "$out" diff "$input" "$inputs/sample.reg"
    call "$drvdb" "$out" diff "$input" "$input"
    bump "$drvdb" "$out" "$input"
    bump "$drvdb" "$out" "$input" --to 1000
    bump "$drvdb" "$out" "$input" --to=0x47
  done
  echo "$calls calls"
}

results=()
for label in before after; do
  commit=$before
  [ "$label" = after ] && commit=$after
  git worktree add --detach --force "$src" "$commit" >/dev/null 2>&1
  echo "Building $label ($(git -C "$src" log -1 --format='%h %s' | cut -c1-60))"
  cmake -S "$src" -B "$src/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDRVSETUP_TESTS=OFF >/dev/null
  cmake --build "$src/build" --target drvdb -j2 >/dev/null
  run_all "$src/build/drvdb" "$image" "$work/$label.txt"
  git worktree remove --force "$src"
  results+=("$work/$label.txt")
done

if cmp -s "${results[0]}" "${results[1]}"; then
  echo "The same: $calls calls of drvdb, each with the same status, output, errors and files written ($(wc -c <"${results[1]}") bytes of record)"
else
  echo "FAIL: the builds differ:"
  diff "${results[0]}" "${results[1]}" | head -40
  exit 1
fi
