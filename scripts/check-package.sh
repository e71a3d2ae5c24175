#!/usr/bin/env bash
# Builds the Debian package from the Release build in build/ (or $TZ_BUILD_DIR) and checks it:
# the files it installs, its control fields and dependencies, that its programs run, and
# lintian (errors fail; warnings and notes are printed).
# Usage: scripts/check-package.sh   (after scripts/build.sh; scripts/test.sh runs it)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TZ_BUILD_DIR:-$root/build}

for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "check-package: $tool not found: run scripts/setup.sh" >&2
    exit 1
  fi
done

"$root/scripts/build.sh" >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
architecture=$(dpkg --print-architecture)
package=$build/zevediz_${version}_${architecture}.deb
rm -f "$package"
if ! output=$(cd "$build" && cpack -G DEB 2>&1); then
  echo "$output" >&2
  exit 1
fi
[ -f "$package" ] || { echo "check-package: cpack wrote no $package" >&2; exit 1; }
echo "check-package: $(basename "$package")"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Every file the package installs, and nothing else.
expected=$(sort <<'FILES'
/usr/bin/zevediz
/usr/bin/zevediz-resize
/usr/share/applications/zevediz.desktop
/usr/share/metainfo/example.tovanzevediz.zevediz.metainfo.xml
/usr/share/icons/hicolor/48x48/apps/zevediz.png
/usr/share/icons/hicolor/64x64/apps/zevediz.png
/usr/share/icons/hicolor/128x128/apps/zevediz.png
/usr/share/icons/hicolor/256x256/apps/zevediz.png
/usr/share/icons/hicolor/scalable/apps/zevediz.svg
/usr/share/man/man1/zevediz.1.gz
/usr/share/man/man1/zevediz-resize.1.gz
/usr/share/bash-completion/completions/zevediz-resize
/usr/share/doc/zevediz/copyright
/usr/share/doc/zevediz/changelog.gz
FILES
)
contents=$(dpkg-deb --contents "$package")
actual=$(awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' <<<"$contents" | sort)
missing=$(comm -23 <(echo "$expected") <(echo "$actual"))
extra=$(comm -13 <(echo "$expected") <(echo "$actual"))
[ -z "$missing" ] || fail "missing from the package: $(echo $missing)"
[ -z "$extra" ] || fail "not expected in the package: $(echo $extra)"
awk '$2 != "root/root" { exit 1 }' <<<"$contents" || fail "files not owned by root/root"

field() { dpkg-deb --field "$package" "$1"; }
expect_field() {
  local got
  got=$(field "$1")
  [ "$got" = "$2" ] || fail "field $1 is '$got', expected '$2'"
}
expect_field Package zevediz
expect_field Version "$version"
expect_field Architecture "$architecture"
expect_field Section graphics
expect_field Priority optional
expect_field Homepage https://tovanzevediz.example/
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] ||
  fail "field Maintainer is not 'Name <address>': '$(field Maintainer)'"
[ "$(field Description | wc -l)" -ge 3 ] || fail "the Description has no long text"

# The dependencies dpkg-shlibdeps computed from what the programs link.
depends=$(field Depends)
echo "Depends: $depends"
for library in libc6 libstdc++6 libjpeg62-turbo libpng16-16 libwebp7 libexif12 libheif1 libqt6core6 \
  libqt6gui6 libqt6widgets6; do
  [[ ", $depends," == *", $library "* ]] || fail "Depends lacks $library"
done

# The unpacked programs run and report the build's version.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$package" "$unpacked"
reported=$("$unpacked/usr/bin/zevediz-resize" --version | head -n 1) || fail "zevediz-resize --version failed"
[ "$reported" = "zevediz-resize $version" ] || fail "zevediz-resize --version says '$reported'"

# --fail-on error: warnings are listed but pass; -I --pedantic shows the notes as well.
echo "lintian:"
if ! lintian --allow-root --fail-on error -I --pedantic "$package"; then
  fail "lintian reports errors"
fi

if [ $failures -ne 0 ]; then
  echo "check-package: $failures failure(s)"
  exit 1
fi
echo "check-package: ok"
