#!/usr/bin/env bash
# The software-centre description passes appstreamcli validate without errors, and its newest
# release, the Debian change log's and the build's version and date agree.
# Usage: test_metainfo.sh DATA_DIR VERSION RELEASE_DATE
set -euo pipefail
data=$1
version=$2
date=$3
metainfo=$data/example.tovanzevediz.zevediz.metainfo.xml

status=0
fail() { echo "FAIL: $*"; status=1; }

# The first <release> is the newest.
release=$(grep -m1 '<release ' "$metainfo")
[[ $release == *"version=\"$version\""* ]] || fail "newest metainfo release is not $version: $release"
[[ $release == *"date=\"$date\""* ]] || fail "newest metainfo release is not dated $date: $release"

changelog=$data/debian/changelog
head -n1 "$changelog" | grep -q "^zevediz ($version) " ||
  fail "debian/changelog starts with '$(head -n1 "$changelog")', not version $version"
stamp=$(sed -n 's/^ -- .*>  //p' "$changelog" | head -n1)
[ "$(date -u -d "$stamp" +%F 2>/dev/null)" = "$date" ] ||
  fail "newest debian/changelog entry is dated '$stamp', not $date"

if ! command -v appstreamcli >/dev/null 2>&1; then
  echo "SKIP: appstreamcli not found (Debian package appstream); versions and dates checked"
  [ $status -eq 0 ] && exit 77
  exit $status
fi

# Errors fail; warnings and notes are printed for the reader. The screenshots are on the web
# site, which a test does not reach.
output=$(appstreamcli validate --no-net --no-color --pedantic "$metainfo" 2>&1) || true
echo "$output"
if grep -q '^E:' <<<"$output"; then
  fail "appstreamcli validate reports errors"
elif ! grep -q 'Validation' <<<"$output"; then
  fail "appstreamcli validate gave no verdict"
fi

[ $status -eq 0 ] && echo "metainfo: ok"
exit $status
