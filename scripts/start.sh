#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the desktop program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${TZ_BUILD_DIR:-$root/build}
program="$build/src/app/zevediz"
if [ ! -x "$program" ]; then
  "$build/src/cli/zevediz-resize" --help
  exit 0
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: the desktop program needs a graphical session." >&2
  echo "For batch work without a display use: $build/src/cli/zevediz-resize --help" >&2
  exit 1
fi
exec "$program" "$@"
