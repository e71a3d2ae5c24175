#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
# Usage: scripts/setup.sh [extra package...]
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  libjpeg62-turbo-dev libjpeg-turbo-progs
  libexif-dev libimage-exiftool-perl
  zlib1g-dev libpng-dev libwebp-dev libheif-dev
  webp libheif-examples
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-tools-dev qt6-l10n-tools
  clang libclang-rt-14-dev
  python3 python3-pil
  xvfb xauth openbox xdotool imagemagick
  desktop-file-utils appstream lintian dpkg-dev man-db groff-base bash-completion
  librsvg2-bin
  "$@"
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
