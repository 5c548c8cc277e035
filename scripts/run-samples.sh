#!/usr/bin/env bash
# Sets up, builds, and converts the bundled sample logs into ./Rx, showing each line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" build
"$root/scripts/build.sh" -DBUILD_TESTING=OFF >/dev/null
cd "$root"
shopt -s nullglob
logs=(samples/*.Vornakite samples/*.txt samples/*.csv)
status=0
"$root/build/cli/vornakite-convert" "${logs[@]}" || status=$?
echo
ls -l Rx
exit $status
