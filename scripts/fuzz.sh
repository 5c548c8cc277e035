#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# checks on) and runs each for SECONDS (default 20), or for RUNS executions.
# Usage: scripts/fuzz.sh [SECONDS] [RUNS]
# Findings are kept in build-fuzz/findings/; the grown corpora in build-fuzz/corpus/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
runs=${2:-}
"$root/scripts/setup.sh" fuzz
build="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORNAKITE_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_read_log fuzz_number fuzz_convert fuzz_clean >/dev/null

seeds="$root/tests/fuzz/seeds"
mkdir -p "$build/findings"
failed=0
for target in fuzz_number fuzz_read_log fuzz_convert fuzz_clean; do
    case $target in
        fuzz_number) dict=number.dict; seed=$seeds/number; limit=256 ;;
        *) dict=log.dict; seed=$seeds/log; limit=4096 ;;
    esac
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    budget=(-max_total_time="$seconds")
    [ -z "$runs" ] || budget=(-runs="$runs")
    echo "--- $target (${runs:+$runs runs}${runs:-$seconds s})"
    if ! (cd "$build/findings" && ASAN_OPTIONS=detect_leaks=1 \
        "$build/tests/fuzz/$target" -dict="$root/tests/fuzz/$dict" -max_len=$limit \
        "${budget[@]}" -print_final_stats=1 "$corpus" "$seed" 2>"$build/$target.log"); then
        failed=1
        tail -40 "$build/$target.log"
    fi
    grep -E 'stat::number_of_executed_units|^Done|ERROR' "$build/$target.log" || true
done
if [ "$failed" -ne 0 ]; then
    echo "FAILED: a fuzz target found a fault (inputs in $build/findings)"
    exit 1
fi
echo "Fuzzing: no fault found"
