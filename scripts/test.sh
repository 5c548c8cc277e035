#!/usr/bin/env bash
# Sets up, builds, and runs every test; ctest prints the closing summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" test
"$root/scripts/build.sh" -DBUILD_TESTING=ON
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure -j"$(nproc)"
