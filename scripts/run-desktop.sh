#!/usr/bin/env bash
# Builds VornakiteConverter.exe and starts it under Wine on this X display.
# Its outputs go into Rx under the current directory, as on Windows.
# Without a display, it runs on a virtual one and saves a screenshot instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" windows
"$root/scripts/build-windows.sh" -DBUILD_TESTING=OFF
exe="$root/build-mingw/app/VornakiteConverter.exe"
export WINEPREFIX=${WINEPREFIX:-$root/build-mingw/wineprefix}
if [ -n "${DISPLAY:-}" ]; then
    exec "$root/scripts/wine-run.sh" "$exe"
fi
echo "No DISPLAY: starting on a virtual display for 10 seconds."
shot="$root/build-mingw/desktop.png"
"$root/scripts/with-display.sh" bash -c '
    "$1/scripts/wine-run.sh" explorer /desktop=vk,1024x768 "$2" & sleep 8
    import -window root -crop 690x480+0+0 "$3" && echo "Screenshot: $3"' _ "$root" "$exe" "$shot"
