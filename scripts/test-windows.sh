#!/usr/bin/env bash
# Cross-builds the Windows programs and tests and runs them under Wine on a
# virtual display; ctest prints the summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" windows
"$root/scripts/build-windows.sh" -DBUILD_TESTING=ON
cd "${WINDOWS_BUILD_DIR:-$root/build-mingw}"
# Under load Wine now and then fails to start a program at all (no output, a tenth of a second);
# such a test is run again, up to three times in all. A test that fails in its own right fails
# every time and still fails the run.
"$root/scripts/with-display.sh" ctest --output-on-failure -j"$(nproc)" --repeat until-pass:3
