#!/usr/bin/env bash
# The menu entry passes desktop-file-validate, and names the program, icon and metainfo that
# the package installs beside it.
# Usage: test_desktop_entry.sh DATA_DIR
set -euo pipefail
data=$1
entry=$data/zevediz.desktop

if ! command -v desktop-file-validate >/dev/null 2>&1; then
  echo "SKIP: desktop-file-validate not found (Debian package desktop-file-utils)"
  exit 77
fi

status=0
fail() { echo "FAIL: $*"; status=1; }

# The tool prints hints and errors, and fails only on errors; hints are shown, not judged.
if ! output=$(desktop-file-validate "$entry" 2>&1); then
  fail "desktop-file-validate: $output"
elif [ -n "$output" ]; then
  echo "$output"
fi

value() { sed -n "s/^$1=//p" "$entry"; }

[ "$(value Exec)" = "zevediz %F" ] || fail "Exec is '$(value Exec)', expected 'zevediz %F'"
[ -f "$data/icons/$(value Icon).svg" ] || fail "no scalable icon for Icon=$(value Icon)"

IFS=';' read -r -a types <<<"$(value MimeType)"
for type in image/jpeg image/gif image/bmp image/png image/webp image/heic image/heif image/avif; do
  printf '%s\n' "${types[@]}" | grep -qx "$type" || fail "MimeType lacks $type"
done

launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' \
  "$data"/*.metainfo.xml)
[ "$launchable" = "$(basename "$entry")" ] ||
  fail "the metainfo launches '$launchable', the entry is $(basename "$entry")"

[ $status -eq 0 ] && echo "desktop entry: ok"
exit $status
