#!/usr/bin/env bash
# Builds the Release converter and the benchmark tools into build-bench/, then times
# vornakite-convert, the minimal baseline, ogr2ogr and a pyshp script on generated logs of
# 100,000, 1,000,000 and 5,000,000 samples and prints the table. Options go to run_bench.py,
# e.g. --sizes 100000 --reps 3 --wait-quiet 1200 --out table.md
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" test
BUILD_DIR="$root/build-bench" "$root/scripts/build.sh" -DBUILD_TESTING=OFF
exec /usr/bin/python3 "$root/bench/run_bench.py" --bin "$root/build-bench" "$@"
