#!/usr/bin/env bash
# Cross-builds the Windows programs (VornakiteConverter.exe, vornakite-convert.exe
# and, with -DBUILD_TESTING=ON, the tests) into build-mingw/ with mingw-w64.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${WINDOWS_BUILD_DIR:-$root/build-mingw}
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/wine-run.sh" \
    "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
