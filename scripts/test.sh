#!/usr/bin/env bash
# Installs what is missing, builds in Release, builds and checks the Debian package from that
# build, and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${TZ_BUILD_DIR:-$root/build}
# The package is checked first so that the test summary closes the output; a failed check still
# fails the run once the tests have run.
package_status=0
"$root/scripts/check-package.sh" || package_status=$?
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
exit $package_status
