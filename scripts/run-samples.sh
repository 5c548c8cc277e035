#!/usr/bin/env bash
# Sets up, builds and installs vornakite-convert, then converts the bundled sample logs with the
# installed program into ./Rx (Rx under the folder it is started in), showing each line.
# Usage: scripts/run-samples.sh [--prefix DIR]
# The program goes into DIR/bin: by default /usr/local/bin when run as root, else ~/.local/bin.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
if [ "$(id -u)" -eq 0 ]; then prefix=/usr/local; else prefix=$HOME/.local; fi
if [ $# -gt 0 ]; then
    if [ $# -ne 2 ] || [ "$1" != --prefix ]; then
        echo "usage: scripts/run-samples.sh [--prefix DIR]" >&2
        exit 2
    fi
    mkdir -p "$2"
    prefix=$(cd "$2" && pwd)
fi

echo "Installing build tools (when missing)..."
"$root/scripts/setup.sh" build

# A new build folder is made without the tests; an existing one keeps its settings.
configure=()
[ -f "$build/CMakeCache.txt" ] || configure=(-DBUILD_TESTING=OFF)
echo "Building vornakite-convert in $build (about 2 minutes on 2 cores)..."
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "${configure[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target vornakite-convert

echo "Installing vornakite-convert into $prefix/bin..."
cmake --install "$build" --prefix "$prefix" >/dev/null

echo "Converting the samples into $PWD/Rx..."
status=0
"$prefix/bin/vornakite-convert" "$root/samples" || status=$?
echo
ls -l Rx
echo
if [ "$(command -v vornakite-convert || true)" = "$prefix/bin/vornakite-convert" ]; then
    echo "vornakite-convert is installed: try vornakite-convert --help"
else
    echo "vornakite-convert is installed in $prefix/bin, which is not on your PATH yet."
    echo "Add it with: export PATH=\"$prefix/bin:\$PATH\""
    if [ "$prefix" = "$HOME/.local" ]; then
        echo "(Debian's ~/.profile adds ~/.local/bin by itself from your next login on.)"
    fi
fi
exit $status
