#!/usr/bin/env bash
# zevediz-resize's bash completion, loaded the way bash-completion loads an installed one,
# completes the options and kernel names the tool itself knows, the preset sizes, and files.
# Usage: test_completion.sh COMPLETION_FILE CLI_PROGRAM
set -uo pipefail
completion=$(realpath "$1")
cli=$(realpath "$2")

framework=/usr/share/bash-completion/bash_completion
if [ ! -f "$framework" ]; then
  echo "SKIP: $framework not found (Debian package bash-completion)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/user/completions" "$work/pictures/sub folder"
cp "$completion" "$work/user/completions/zevediz-resize"
touch "$work/pictures/a photo.jpg" "$work/pictures/another.GIF" "$work/pictures/-dash.bmp"

# shellcheck disable=SC1090
export BASH_COMPLETION_USER_DIR=$work/user
source "$framework"
__load_completion zevediz-resize || { echo "FAIL: bash-completion found no completion"; exit 1; }

status=0
fail() { echo "FAIL: $*"; status=1; }

# complete_at LINE WORD...: the candidates bash would offer at the end of LINE, whose words as
# bash splits them (with '=' a word of its own) are WORD...; printed one a line, sorted.
complete_at() {
  local line=$1
  shift
  local COMP_LINE=$line COMP_POINT=${#line} COMP_WORDS=("$@") COMP_CWORD=$(($# - 1))
  local function
  function=$(complete -p zevediz-resize | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
  COMPREPLY=()
  "$function" zevediz-resize "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() {
  local what=$1 wanted=$2 got=$3
  [ "$got" = "$wanted" ] || fail "$what: expected [$(echo $wanted)], got [$(echo $got)]"
}

lines() { printf '%s\n' "$@" | sort; }

# Every option the tool's help lists, and the end-of-options marker.
# (The option column of the lines that start with an option, so words in the descriptions are
# left out.)
options=$("$cli" --help | grep -E '^ +-' | sed -E 's/^ +//; s/  .*//' |
  grep -oE '(^|[ ,])--?[a-z0-9][a-z0-9-]*' | tr -d ' ,' | sort -u)
expect "options after '-'" "$(lines $options --)" "$(complete_at "zevediz-resize -" zevediz-resize -)"
expect "options after '--k'" "$(lines --keep-date --keep-going --keep-metadata --kernel)" \
  "$(complete_at "zevediz-resize --k" zevediz-resize --k)"

# The kernel names as the tool lists them when refusing an unknown one.
kernels=$("$cli" --kernel nosuch x.jpg 2>&1 | sed -n 's/.*(one of: \(.*\)).*/\1/p' | sed 's/, /\n/g')
[ "$(echo "$kernels" | wc -l)" -ge 2 ] || fail "no kernel names in the tool's message"
expect "kernels after -k" "$(lines $kernels)" "$(complete_at "zevediz-resize -k " zevediz-resize -k "")"
expect "kernels after --kernel B" "$(lines Bell B-Spline Box)" \
  "$(complete_at "zevediz-resize --kernel B" zevediz-resize --kernel B)"
expect "kernels after --kernel=La" "Lanczos3" \
  "$(complete_at "zevediz-resize --kernel=La" zevediz-resize --kernel = La)"

expect "sizes after --size 1" "$(lines 120 160 1024 1280 1600)" \
  "$(complete_at "zevediz-resize --size 1" zevediz-resize --size 1)"
expect "nothing after --jobs" "" "$(complete_at "zevediz-resize --jobs " zevediz-resize --jobs "")"

cd "$work/pictures" || exit 1
expect "files after options" "$(lines "a photo.jpg" another.GIF)" \
  "$(complete_at "zevediz-resize -s 640 a" zevediz-resize -s 640 a)"
expect "folders" "sub folder" "$(complete_at "zevediz-resize s" zevediz-resize s)"
expect "files after --" "-dash.bmp" "$(complete_at "zevediz-resize -- -" zevediz-resize -- -)"

[ $status -eq 0 ] && echo "completion: ok"
exit $status
