#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Usage: scripts/setup.sh [build|package|windows|fuzz|test]
#        (default: test, which includes the others)
set -euo pipefail

want=${1:-test}
packages=(cmake g++ make libgtest-dev googletest)
if [ "$want" = test ]; then
    # GIS programs that read the outputs back in the tests.
    packages+=(gdal-bin python3 python3-pyshp shapelib clang-format locales)
    packages+=(libbenchmark-dev)  # micro-benchmarks, run once each by the tests
    packages+=(chromium)  # the HTML report, opened and screenshot headless by the tests
    # The Windows build, and Wine on a virtual display to run its tests.
    packages+=(g++-mingw-w64-x86-64-posix wine wine64 xvfb xdotool imagemagick x11-utils)
fi
if [ "$want" = test ] || [ "$want" = package ]; then
    # The Debian package's dependencies (dpkg-shlibdeps); unzip reads the Windows .zip back.
    packages+=(dpkg-dev unzip)
fi
if [ "$want" = test ] || [ "$want" = fuzz ]; then
    # Fuzzing (clang's libFuzzer) and memory checking.
    packages+=(clang libclang-rt-14-dev valgrind)
fi
if [ "$want" = windows ]; then
    packages+=(g++-mingw-w64-x86-64-posix wine wine64 xvfb imagemagick unzip)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

# A locale with a decimal comma, to show that number formatting ignores the user's locale.
if [ "$want" = test ] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "note: could not generate de_DE.UTF-8"
fi
