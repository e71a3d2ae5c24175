#!/usr/bin/env bash
# Builds the core and the command line with the address and undefined-behaviour sanitizers into
# build-sanitized/ (or $TZ_SANITIZED_BUILD_DIR) and runs there the tests of the picture readers
# (label "input"), which meet hostile input. TZ_SANITIZED_ALL=1 builds and runs every test of
# the core and the command line.
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
  # Line tables are enough for the reports' stack traces, and -O1 builds much faster.
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DTZ_SANITIZE=ON -DTZ_BUILD_GUI=OFF
fi
cd "$build"
if [ "${TZ_SANITIZED_ALL:-0}" = 1 ]; then
  cmake --build . --parallel "$(nproc)"
  selection=(--label-exclude packaging)
else
  cmake --build . --parallel "$(nproc)" --target input_tests
  selection=(--label-regex '^input$')
fi
# The data-file checks do not run our code; the sanitizers have nothing to say about them.
ctest --output-on-failure --parallel "$(nproc)" --timeout 900 "${selection[@]}"
