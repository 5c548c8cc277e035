#!/usr/bin/env bash
# Evaluates the quality filters: generates logs with errors injected at known samples
# (vornakite-gendirty, one field per seed), runs the filters with their default thresholds
# (vornakite-evalclean) and prints the tables of docs/cleaning.md.
#
# usage: bench/evaluate_cleaning.sh [--build DIR] [--seeds N] [--first S] [--check] [--variants]
#   --build DIR  a configured and built tree (default: build/)
#   --seeds N    number of logs (default 20), seeds S .. S+N-1 (--first, default 1)
#   --check      exit 1 unless the goals hold, on today's logs and on five lag variants (a lag
#                of 10 s at 1 s per sample, short turns with grain, turns not logged, transits,
#                the pace swinging)
#   --variants   instead, the same seeds in every variant below (a grain-flow lag of 6, 10 and
#                15 s at 1, 0.5 and 2 s per sample; short turns carrying grain; turns not
#                logged; transits across the field; the pace swinging along the passes) and the
#                tables of each
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
seeds=20
first=1
check=()
variants=0
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --seeds) seeds=$2; shift 2 ;;
        --first) first=$2; shift 2 ;;
        --check) check=(--check); shift ;;
        --variants) variants=1; shift ;;
        *) echo "usage: $0 [--build DIR] [--seeds N] [--first S] [--check] [--variants]" >&2
           exit 2 ;;
    esac
done
work=$(mktemp -d "${TMPDIR:-/tmp}/vornakite_eval.XXXXXX")
trap 'rm -rf "$work"' EXIT

# generate NAME [OPTION...]: the seeds' logs with those options into $work/NAME; sets args.
generate() {
    local name=$1
    shift
    mkdir -p "$work/$name"
    args=()
    for ((s = first; s < first + seeds; ++s)); do
        "$build/bench/vornakite-gendirty" --seed "$s" "$@" "$work/$name/seed$s.Vornakite" \
            "$work/$name/seed$s.csv" >&2
        args+=("$work/$name/seed$s.Vornakite" "$work/$name/seed$s.csv")
    done
}

if [ "$variants" = 0 ]; then
    generate logs
    "$build/bench/vornakite-evalclean" "${check[@]}" "${args[@]}"
    if [ ${#check[@]} -gt 0 ]; then
        for variant in "--lag-seconds 10 --interval 1" "--lag-seconds-range 8 15 --turns up --short-turns" \
                       "--lag-seconds-range 6 15 --turns off" "--lag-seconds-range 6 15 --transits 3" \
                       "--lag-seconds-range 6 15 --pace-swing 0.2"; do
            # shellcheck disable=SC2086
            generate lagged $variant
            echo "== $variant" >&2
            "$build/bench/vornakite-evalclean" --check "${args[@]}" > "$work/lagged.txt" ||
                { cat "$work/lagged.txt"; exit 1; }
        done
    fi
    exit
fi

rows=$work/rows
mkdir -p "$rows"
run() {  # run NAME [OPTION...]
    local name=$1
    generate "$@"
    echo "== $name" >&2
    "$build/bench/vornakite-evalclean" --variant "$name" --rows "$rows" "${args[@]}" \
        > "$rows/$name.txt"
}
run "no lag"
for interval in 1 0.5 2; do
    for lag in 6 10 15; do
        run "lag $lag s, every $interval s" --lag-seconds "$lag" --interval "$interval"
    done
done
run "short turns with grain" --lag-seconds-range 8 15 --turns up --short-turns
run "turns not logged" --lag-seconds-range 6 15 --turns off
run "transits" --lag-seconds-range 6 15 --transits 3
run "pace swinging by 20 %" --lag-seconds-range 6 15 --pace-swing 0.2

echo "Errors removed and clean points removed:"
echo
echo "| variant | logs | points | errors | errors removed | lowest kind | clean removed | clean removed, worst log |"
echo "|---|---:|---:|---:|---:|---|---:|---:|"
cat "$rows/removal.md"
echo
echo "Recall per kind:"
echo
printf "| variant |"
for kind in carryover turn delay headland stop jump spike dip zero speed moisture nofix duplicate misplaced; do
    printf " %s |" "$kind"
done
printf "\n|---|"
for _ in $(seq 14); do printf -- "---:|"; done
printf "\n"
cat "$rows/kinds.md"
echo
echo "Lag estimated (flow from the yields, moisture from the moistures):"
echo
echo "| variant | logs | flow lag found within 2 samples | found, more than 2 off | not found | moisture lag found within 2 | moisture not found | ms per log (median) |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|"
cat "$rows/lag.md"
echo
echo "Kept yields against the crop's true yield at their positions (median relative error):"
echo
echo "| variant | kept points | as logged | as the clean set holds them | shifted back by the true lag | worst log as logged | worst log as held |"
echo "|---|---:|---:|---:|---:|---:|---:|"
cat "$rows/positions.md"
echo
echo "The logs:"
echo
echo "| variant | log | interval s (estimated) | lag | estimate (confidence; refined +- error, depth, x chance) | moisture lag | estimate | ms |"
echo "|---|---|---:|---:|---|---:|---|---:|"
cat "$rows/logs.md"
