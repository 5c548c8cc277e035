#!/usr/bin/env bash
# Sets up, builds, and runs every test: the Windows build under Wine, a short
# fuzzing run, the native tests under AddressSanitizer and UBSan, and last the
# native build, whose ctest summary closes the output.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" test || exit 1

failures=()
echo "=== Windows programs and tests (mingw-w64, under Wine) ==="
"$root/scripts/test-windows.sh" || failures+=("Windows tests under Wine")

echo "=== Fuzzing, a short run of each target ==="
"$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-20}" || failures+=("fuzzing")

echo "=== Native tests under AddressSanitizer and UndefinedBehaviorSanitizer ==="
"$root/scripts/test-sanitizers.sh" || failures+=("sanitizer tests")

echo "=== Native build and tests ==="
native=0
"$root/scripts/build.sh" -DBUILD_TESTING=ON && cd "${BUILD_DIR:-$root/build}" &&
    ctest --output-on-failure -j"$(nproc)" || native=$?

if [ ${#failures[@]} -gt 0 ]; then
    printf 'FAILED: %s (see above)\n' "${failures[*]}"
    exit 1
fi
exit "$native"
