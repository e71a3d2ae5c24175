#!/usr/bin/env bash
# Each committed PNG icon has its nominal size and shows what the scalable drawing shows at
# that size, so a changed drawing is not shipped beside stale renders.
# Usage: test_icons.sh ICON_DIR SIZE...
set -euo pipefail
icons=$1
shift

if ! command -v rsvg-convert >/dev/null 2>&1; then
  echo "SKIP: rsvg-convert not found (Debian package librsvg2-bin)"
  exit 77
fi
if ! /usr/bin/python3 -c 'import PIL' 2>/dev/null; then
  echo "SKIP: Debian's Pillow (/usr/bin/python3 with PIL, package python3-pil) not found"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in "$@"; do
  rsvg-convert --width "$size" --height "$size" "$icons/zevediz.svg" --output "$work/$size.png"
done

# Another renderer version may shade edges a little differently: at most 1% of the pixels may
# differ by more than 8 levels, none by more than 64.
/usr/bin/python3 - "$icons" "$work" "$@" <<'PYTHON'
import sys
from PIL import Image, ImageChops

icons, work, sizes = sys.argv[1], sys.argv[2], [int(size) for size in sys.argv[3:]]
failed = False
for size in sizes:
    committed = Image.open(f"{icons}/zevediz-{size}.png").convert("RGBA")
    rendered = Image.open(f"{work}/{size}.png").convert("RGBA")
    if committed.size != (size, size):
        print(f"FAIL: zevediz-{size}.png is {committed.size[0]}x{committed.size[1]}")
        failed = True
        continue
    difference = ImageChops.difference(committed, rendered)
    largest = max(high for _, high in difference.getextrema())
    histogram = difference.convert("L").histogram()
    differing = sum(histogram[9:])
    if largest > 64 or differing > size * size // 100:
        print(f"FAIL: zevediz-{size}.png differs from the drawing: up to {largest} levels, "
              f"{differing} pixels by more than 8; run scripts/render-icons.sh")
        failed = True
if not failed:
    print(f"icons: ok ({len(sizes)} sizes)")
sys.exit(1 if failed else 0)
PYTHON
