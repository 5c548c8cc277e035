#!/usr/bin/env bash
# Builds the Release converter and the benchmark tools into build-bench/, the converter as it was
# before the streaming engine into build-bench/reference/, and the Windows build into
# build-bench-mingw/; then times vornakite-convert against the peers (the minimal baseline,
# ogr2ogr and a pyshp script; run_bench.py, whose options this script passes on, e.g. --sizes
# 100000 --reps 3 --wait-quiet 1200 --out table.md), the engine against its goals
# (engine_bench.py; its options in ENGINE_BENCH_ARGS, e.g. "--sizes 100000,1000000") and the
# cleaning on the worst layouts against an ordinary log (adverse_bench.py; its options in
# ADVERSE_BENCH_ARGS, e.g. "--samples 200000 --units").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" test
BUILD_DIR="$root/build-bench" "$root/scripts/build.sh" -DBUILD_TESTING=OFF

# The last converter before the streaming engine, built from the project's history.
reference=52c5d3c
reference_args=()
if git -C "$root" cat-file -e "$reference^{commit}" 2>/dev/null; then
    source_dir="$root/build-bench/reference-src"
    rm -rf "$source_dir"
    mkdir -p "$source_dir"
    git -C "$root" archive "$reference" | tar -x -C "$source_dir"
    cmake -S "$source_dir" -B "$root/build-bench/reference" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$root/build-bench/reference" -j"$(nproc)" --target vornakite-convert >/dev/null
    reference_args=(--reference "$root/build-bench/reference/cli/vornakite-convert")
else
    echo "note: commit $reference is not in this checkout; no 'before' column" >&2
fi

WINDOWS_BUILD_DIR="$root/build-bench-mingw" "$root/scripts/build-windows.sh" \
    -DBUILD_TESTING=OFF >/dev/null

/usr/bin/python3 "$root/bench/run_bench.py" --bin "$root/build-bench" "$@"
echo
# shellcheck disable=SC2086
/usr/bin/python3 "$root/bench/engine_bench.py" --bin "$root/build-bench" "${reference_args[@]}" \
    --wine-exe "$root/build-bench-mingw/cli/vornakite-convert.exe" \
    --wine-prefix "$root/build-bench-mingw/wineprefix" ${ENGINE_BENCH_ARGS:-}
echo
# shellcheck disable=SC2086
/usr/bin/python3 "$root/bench/adverse_bench.py" --bin "$root/build-bench" ${ADVERSE_BENCH_ARGS:-}
