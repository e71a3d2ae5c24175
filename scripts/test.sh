#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds in Release with warnings as errors,
# builds and checks the Debian package from that build, runs the whole test suite, then builds
# the core and the command line with the address and undefined-behaviour sanitizers and runs
# their tests again (scripts/test-sanitized.sh; skipped with TZ_SKIP_SANITIZED=1).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/check-format.sh"
"$root/scripts/build.sh" -DTZ_WERROR=ON
build=${TZ_BUILD_DIR:-$root/build}
# The package is checked first so that the test summary closes the output; a failed check still
# fails the run once the tests have run.
package_status=0
"$root/scripts/check-package.sh" || package_status=$?
(cd "$build" && ctest --output-on-failure --parallel "$(nproc)" --timeout 600)
if [ "${TZ_SKIP_SANITIZED:-0}" != 1 ]; then
  "$root/scripts/test-sanitized.sh"
fi
exit $package_status
