#!/usr/bin/env bash
# Sets up, builds, and converts the bundled sample logs into ./Rx (Rx under the folder it is
# started in), showing each line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" build
"$root/scripts/build.sh" -DBUILD_TESTING=OFF >/dev/null
status=0
"$root/build/cli/vornakite-convert" "$root/samples" || status=$?
echo
ls -l Rx
exit $status
