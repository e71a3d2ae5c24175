#!/usr/bin/env bash
# Builds the core and the command line with the address and undefined-behaviour sanitizers into
# build-sanitized/ (or $TZ_SANITIZED_BUILD_DIR) and runs their tests there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TZ_SANITIZED_BUILD_DIR:-$root/build-sanitized}
generator=()
if command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
fi
# Warnings are errors in the Release build only: with the sanitizers GCC reports false
# "maybe uninitialized" warnings inside the standard library.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTZ_SANITIZE=ON -DTZ_BUILD_GUI=OFF
fi
cmake --build "$build" --parallel "$(nproc)"
cd "$build"
# The data-file checks do not run our code; the sanitizers have nothing to say about them.
ctest --output-on-failure --parallel "$(nproc)" --timeout 900 --label-exclude packaging
