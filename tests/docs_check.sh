#!/usr/bin/env bash
# Checks the documentation against the tree and the tool:
#   links    every relative link and image of the Markdown files resolves
#   tables   the maintainers' guide's tables of finding kinds and exit
#            statuses say what drvdb --help says, row for row
#   manual   drvdb's manual page is ASCII and man renders it with nothing
#            on standard error
# usage: docs_check.sh links|tables|manual SOURCE HOST_BUILD
set -euo pipefail
what=$1 source=$2 host=$3
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

links() {
  local file target count=0
  while IFS= read -r file; do
    # [text](target) and ![alt](target); a URL or an anchor alone is not a
    # file of the tree.
    while IFS= read -r target; do
      target=${target%%#*}
      [ -n "$target" ] || continue
      count=$((count + 1))
      [ -e "$(dirname "$file")/$target" ] || fail "$file links to $target, which is not there"
    done < <(grep -o '\](\([^)]*\))' "$file" | sed 's/^](//; s/)$//' |
      grep -v -E '^(https?:|mailto:)' || true)
  done < <(cd "$source" && git ls-files --cached --others --exclude-standard '*.md' 2>/dev/null | sed "s|^|$source/|" ||
             find "$source" -name '*.md' -not -path '*/build/*')
  echo "$count relative links and images checked"
}

tables() {
  local help guide
  help=$("$host/drvdb" --help)
  guide=$source/docs/maintaining.md
  # Kinds: "    name (error): summary" in the help; "| `name` | error | summary |"
  # in the guide.
  diff <(sed -n '/^Kinds of finding/,/^$/p' <<<"$help" | sed -n 's/^    //p' |
           sed -E 's/^([a-z0-9-]+) \(error\): /\1|error|/; t; s/^([a-z0-9-]+): /\1|warning|/') \
       <(grep -E '^\| `[a-z0-9-]+` \| (error|warning) \|' "$guide" |
           sed -E 's/^\| `([a-z0-9-]+)` \| (error|warning) \| (.*) \|$/\1|\2|\3/') ||
    fail "the guide's kinds of finding are not drvdb --help's"
  # Exit statuses: the help's lines hold one or two; the guide has a row
  # for each.
  diff <(sed -n '/^Exit status:/,$p' <<<"$help" | tail -n +2 |
           sed -E 's/^    //; s/ {2,}([0-9]+ )/\n\1/' |
           sed -E 's/^([0-9]+) +/\1|/') \
       <(sed -n '/^| status | meaning |/,/^$/p' "$guide" | tail -n +3 |
           sed -E 's/^\| ([0-9]+) \| (.*) \|$/\1|\2/' | sed '/^$/d') ||
    fail "the guide's exit statuses are not drvdb --help's"
}

manual() {
  local page=$host/drvdb.1 err
  [ -s "$page" ] || { fail "no manual page at $page"; return; }
  if LC_ALL=C grep -q -P '[^\x00-\x7f]' "$page"; then
    fail "the manual page is not ASCII"
  fi
  err=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$err" ] || fail "man says: $err"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q 'EXIT STATUS' ||
    fail "the manual page has no exit statuses"
}

"$what"
[ "$failures" -eq 0 ]
