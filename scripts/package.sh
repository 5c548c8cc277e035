#!/usr/bin/env bash
# Builds the packages: `deb`, the Debian package of vornakite-convert (from build/, into
# build/packages/); `windows`, the .zip of both Windows programs (cross-built with mingw-w64
# into build-mingw/, into build-mingw/packages/). Only the programs are built.
# Usage: scripts/package.sh [deb] [windows]   (default: deb)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

for kind in "${@:-deb}"; do
    case $kind in
    deb) build=${BUILD_DIR:-$root/build} ;;
    windows) build=${WINDOWS_BUILD_DIR:-$root/build-mingw} ;;
    *)
        echo "usage: scripts/package.sh [deb] [windows]" >&2
        exit 2
        ;;
    esac
    # A new build folder is made without the tests; an existing one keeps its settings.
    configure=()
    [ -f "$build/CMakeCache.txt" ] || configure=(-DBUILD_TESTING=OFF)
    if [ "$kind" = deb ]; then
        "$root/scripts/setup.sh" package
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "${configure[@]}" >/dev/null
        cmake --build "$build" -j"$(nproc)" --target vornakite-convert
    else
        "$root/scripts/setup.sh" windows
        WINDOWS_BUILD_DIR=$build "$root/scripts/build-windows.sh" "${configure[@]}" \
            --target vornakite-convert VornakiteConverter
    fi
    cpack --config "$build/CPackConfig.cmake" -B "$build/packages" | grep 'package:'
done
