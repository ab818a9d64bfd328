#!/usr/bin/env bash
# The generated manual pages render without a warning and carry the hand-written sections next
# to the options taken from --help.   manual_pages_test.sh MAN_DIR
set -uo pipefail
failures=0
for page in tessaly tessaly-dump tessaly-stb-sim; do
  file=$1/$page.1.gz
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "FAILED: $page(1) warns: $warnings"; failures=$((failures + 1)); }
  sections=$(zcat "$file" | sed -n 's/^\.SH "*\([^"]*\)"*$/\1/p' | tr '\n' ',')
  expected="NAME,SYNOPSIS,DESCRIPTION,OPTIONS,EXIT STATUS,FILES,EXAMPLES,SEE ALSO,"
  [ "$sections" = "$expected" ] ||
    { echo "FAILED: $page(1) has sections $sections"; failures=$((failures + 1)); }
  zcat "$file" | grep -q "^$page \\\\- [a-z]" ||
    { echo "FAILED: $page(1) has no one-line summary"; failures=$((failures + 1)); }
done
[ $failures -eq 0 ] && echo "manual pages: all passed"
exit $failures
