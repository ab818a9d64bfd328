#!/usr/bin/env bash
# README.txt for the zip: CRLF on every line, plain text, and the parts users need.
# readme_text_test.sh SOURCE_DIR
set -uo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -DREADME_MD="$1/README.md" -DREADME_TXT="$work/README.txt" "-DTITLE=Tessaly 9.8.7" \
  -P "$1/cmake/ReadmeText.cmake" || exit 1
text=$work/README.txt
failures=()
grep -qv $'\r$' "$text" && failures+=("a line without CRLF")
grep -qE '`|\*\*|<!--|^\|' "$text" && failures+=("Markdown left: $(grep -m1 -E '`|\*\*|<!--|^\|' "$text")")
awk 'length($0) > 101' "$text" | grep -q . && failures+=("a line over 100 columns")
for part in "Tessaly 9.8.7" "Windows: the installer or the zip" "tessaly-dump.exe --port COM12" \
  "  --simulate-box LIST  " "  64  "; do
  grep -qF -- "$part" "$text" || failures+=("missing \"$part\"")
done
grep -qF "JSON records" "$text" && failures+=("the JSON field table is not for the zip")
grep -qE 'win64\.zip +[0-9.]+ MB +a portable' "$text" || failures+=("a table's middle column is lost")
[ ${#failures[@]} -eq 0 ] && { echo "README.txt: all passed"; exit 0; }
printf 'FAILED: %s\n' "${failures[@]}"
exit 1
