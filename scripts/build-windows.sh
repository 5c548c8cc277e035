#!/usr/bin/env bash
# Cross-builds the Windows programs (VornakiteConverter.exe, vornakite-convert.exe
# and, with -DBUILD_TESTING=ON, the tests) into build-mingw/ with mingw-w64.
# Usage: scripts/build-windows.sh [CMAKE_OPTION]... [--target TARGET...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${WINDOWS_BUILD_DIR:-$root/build-mingw}
configure=()
while [ $# -gt 0 ] && [ "$1" != --target ]; do
    configure+=("$1")
    shift
done
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/wine-run.sh" \
    "${configure[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" "$@"
