#!/usr/bin/env bash
# Renders the PNG sizes of the program's icon from data/icons/zevediz.svg (needs rsvg-convert,
# from librsvg2-bin). Run it after changing the drawing and commit the results.
set -euo pipefail
icons=$(cd "$(dirname "$0")/../data/icons" && pwd)
# The sizes here and TZ_ICON_SIZES in data/CMakeLists.txt must agree.
for size in 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" "$icons/zevediz.svg" --output "$icons/zevediz-$size.png"
done
