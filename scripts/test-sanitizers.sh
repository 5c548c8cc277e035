#!/usr/bin/env bash
# Builds every native test with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ and runs them; any report fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" test
build="$root/build-asan"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNAKITE_SANITIZE=ON \
    -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
cd "$build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure -j"$(nproc)"
