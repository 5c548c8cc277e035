#!/usr/bin/env bash
# Sets up, builds, and runs every test: first the Windows build under Wine,
# then the native build, whose ctest summary closes the output.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" test || exit 1

echo "=== Windows programs and tests (mingw-w64, under Wine) ==="
windows=0
"$root/scripts/test-windows.sh" || windows=$?

echo "=== Native build and tests ==="
native=0
"$root/scripts/build.sh" -DBUILD_TESTING=ON && cd "${BUILD_DIR:-$root/build}" &&
    ctest --output-on-failure -j"$(nproc)" || native=$?

if [ "$windows" -ne 0 ]; then
    echo "FAILED: the Windows tests under Wine failed (see their ctest summary above)"
    exit 1
fi
exit "$native"
