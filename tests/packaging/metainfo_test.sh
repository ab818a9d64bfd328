#!/usr/bin/env bash
# The AppStream metadata written from a changelog of two entries: valid offline, a release per
# entry, newest first, with AppStream's dates, escaped text and joined lines; and the desktop
# entry valid.   metainfo_test.sh SOURCE_DIR
set -uo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/changelog" <<'TEXT'
tessaly (2.1.0) unstable; urgency=medium

  * Reads <boxes> & more; faster.
  * An item that goes on
    onto a second line.

 -- The Tessaly developers <tessaly@users.noreply.example>  Fri, 05 Mar 2027 09:30:00 +0100

tessaly (1.0.0) unstable; urgency=medium

  * First release.

 -- The Tessaly developers <tessaly@users.noreply.example>  Mon, 07 Dec 2026 12:00:00 +0000
TEXT
xml=$work/metainfo.xml
cmake "-DCHANGELOG=$work/changelog" "-DTEMPLATE=$1/packaging/tessaly.metainfo.xml.in" \
  "-DOUTPUT=$xml" -P "$1/cmake/Metainfo.cmake" || exit 1
failures=()
appstreamcli validate --no-net "$xml" >"$work/report" 2>&1 || failures+=("$(cat "$work/report")")
releases=$(grep -o '<release [^>]*>' "$xml" | tr '\n' ' ')
expected='<release version="2.1.0" date="2027-03-05"> <release version="1.0.0" date="2026-12-07"> '
[ "$releases" = "$expected" ] || failures+=("releases: $releases")
for item in '<li>Reads &lt;boxes> &amp; more; faster.</li>' \
  '<li>An item that goes on onto a second line.</li>' '<li>First release.</li>'; do
  grep -qF "$item" "$xml" || failures+=("no $item")
done
desktop-file-validate "$1/packaging/tessaly.desktop" || failures+=("the desktop entry")
[ ${#failures[@]} -eq 0 ] && { echo "metainfo: all passed"; exit 0; }
printf 'FAILED: %s\n' "${failures[@]}"
exit 1
