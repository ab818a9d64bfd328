#!/usr/bin/env bash
# scripts/check-layers on a small tree of its own: quiet while every include keeps to the rules,
# failing with the file, the line and the folder reached on each include planted across them, and
# failing on rules that let a folder reach itself.
set -euo pipefail
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/scripts" "$tree"/src/{serial,dump,window,cli} "$tree/tests/support" "$tree/bench"
cp "$1/check-layers" "$1/layers.rules" "$tree/scripts/"
touch "$tree"/src/serial/Link.h "$tree"/src/dump/Run.h "$tree"/src/window/Form.h \
  "$tree"/src/cli/Options.h "$tree"/tests/support/Wait.h
printf '#include "serial/Link.h"\n#include "Run.h"\n#include <QString>\n' >"$tree/src/dump/Run.cpp"
"$tree/scripts/check-layers" "$tree" >/dev/null || { echo "allowed includes refused"; exit 1; }

failed=0
# The file planted, its include on line 2, what the refusal must name.
while read -r file include reached; do
  printf '// planted\n#include %s\n' "$include" >"$tree/$file"
  if output=$("$tree/scripts/check-layers" "$tree"); then
    echo "not refused: $file including $include"; failed=1
  elif [[ $output != "$file:2: includes $reached"* ]]; then
    echo "refused without naming $file:2 and $reached: $output"; failed=1
  fi
  rm "$tree/$file"
done <<'CASES'
src/serial/Link.cpp "dump/Run.h" src/dump/Run.h (src/dump)
src/serial/Link.cpp "../dump/Run.h" src/dump/Run.h (src/dump)
src/window/Form.cpp "cli/Options.h" src/cli/Options.h (src/cli)
src/cli/Options.cpp "window/Form.h" src/window/Form.h (src/window)
bench/probe.cpp <Wait.h> tests/support/Wait.h (tests)
CASES

sed -i 's|^src/serial:$|src/serial: src/dump|' "$tree/scripts/layers.rules"
output=$("$tree/scripts/check-layers" "$tree") && failed=1
[[ $output == *"src/serial may reach itself"* ]] || { echo "circle allowed: $output"; failed=1; }
exit $failed
