#!/usr/bin/env bash
# Cross-builds the Windows programs and tests and runs them under Wine on a
# virtual display; ctest prints the summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" windows
"$root/scripts/build-windows.sh" -DBUILD_TESTING=ON
cd "${WINDOWS_BUILD_DIR:-$root/build-mingw}"
"$root/scripts/with-display.sh" ctest --output-on-failure -j"$(nproc)"
