#!/usr/bin/env bash
# The manual pages render without warnings, and zevediz-resize's page documents every option
# its --help lists.
# Usage: test_manual_pages.sh CLI_PROGRAM PAGE.1...
set -euo pipefail
cli=$1
shift

if ! command -v groff >/dev/null 2>&1 || ! command -v man >/dev/null 2>&1; then
  echo "SKIP: groff or man not found (Debian packages groff-base and man-db)"
  exit 77
fi

status=0
fail() { echo "FAIL: $*"; status=1; }

for page in "$@"; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $(basename "$page"): $warnings"
  warnings=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "groff $(basename "$page"): $warnings"
  [ -n "$(MANWIDTH=80 man -l "$page" 2>/dev/null)" ] || fail "$(basename "$page") renders empty"

  if [ "$(basename "$page")" = zevediz-resize.1 ]; then
    # The page as plain ASCII text on long lines, so options are neither styled nor hyphenated.
    text=$(groff -man -Tascii -P-cbou -rLL=200n "$page" 2>/dev/null)
    # (The option column of the help's lines that start with an option.)
    options=$("$cli" --help | grep -E '^ +-' | sed -E 's/^ +//; s/  .*//' |
      grep -oE '(^|[ ,])--?[a-z0-9][a-z0-9-]*' | tr -d ' ,' | sort -u)
    [ -n "$options" ] || fail "no options found in $cli --help"
    for option in $options; do
      grep -qE -- "(^|[ ,])$option([ ,=]|$)" <<<"$text" || fail "zevediz-resize.1 lacks $option"
    done
  fi
done

[ $status -eq 0 ] && echo "manual pages: ok ($#)"
exit $status
