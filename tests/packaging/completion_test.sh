#!/usr/bin/env bash
# The bash completion as bash-completion drives it: options from the program's own --help,
# misbehaviour names after --simulate-box, directories after --dir.
# completion_test.sh COMPLETION_FILE BIN_DIR
set -uo pipefail
source /usr/share/bash-completion/bash_completion || exit 1
source "$1" || exit 1
export PATH=$2:$PATH
compopt() { :; }  # only valid while bash itself completes
failures=0

# expect "EXPECTED REPLIES" WORD... : completes the last word of the command line.
expect() {
  local expected=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _tessaly "$1" "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
  local got="${COMPREPLY[*]}"
  if [ "$got" != "$expected" ]; then
    echo "FAILED: $* -> \"$got\", expected \"$expected\""
    failures=$((failures + 1))
  fi
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/backups" && touch "$work/backup.bin"

expect "--simulate --simulate-box" tessaly-dump --sim
expect "--check-port" tessaly-dump --check  # not "--check-port:" from the exit statuses
expect "--split-tokens" tessaly-stb-sim --spl
# The misbehaviours are the ones tessaly-dump --help lists, "silent-after=N" completed up to "=".
listed=$(tessaly-dump --help | tr -s ' \n' ' ' | sed -n 's/.*comma-separated: \([^)]*\)).*/\1/p')
expect "$(echo "$listed" | sed 's/=N/=/g; s/, / /g')" tessaly-dump --simulate-box ""
expect "wrong-checksum,silent-after=" tessaly-dump --simulate-box wrong-checksum,si
expect "noise=" tessaly-dump -q --simulate-box no
expect "$work/backups" tessaly-dump --dir "$work/b"
expect "$work/backups $work/backup.bin" tessaly-dump -o "$work/b"
expect "" tessaly-dump --timeout ""
expect "auto always never" tessaly-dump --color ""
expect "always" tessaly-dump --color=al
[ "$(complete -p tessaly-stb-sim)" = "complete -F _tessaly tessaly-stb-sim" ] ||
  { echo "FAILED: tessaly-stb-sim has no completion"; failures=$((failures + 1)); }
[ $failures -eq 0 ] && echo "completion: all cases passed"
exit $failures
