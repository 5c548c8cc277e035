#!/usr/bin/env bash
# Evaluates the quality filters: generates logs with errors injected at known samples
# (vornakite-gendirty, one field per seed), runs the filters with their default thresholds
# (vornakite-evalclean) and prints the tables of docs/cleaning.md.
#
# usage: bench/evaluate_cleaning.sh [--build DIR] [--seeds N] [--first S] [--check]
#   --build DIR  a configured and built tree (default: build/)
#   --seeds N    number of logs (default 20), seeds S .. S+N-1 (--first, default 1)
#   --check      exit 1 unless the goals hold
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
seeds=20
first=1
check=()
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --seeds) seeds=$2; shift 2 ;;
        --first) first=$2; shift 2 ;;
        --check) check=(--check); shift ;;
        *) echo "usage: $0 [--build DIR] [--seeds N] [--first S] [--check]" >&2; exit 2 ;;
    esac
done
work=$(mktemp -d "${TMPDIR:-/tmp}/vornakite_eval.XXXXXX")
trap 'rm -rf "$work"' EXIT
args=()
for ((s = first; s < first + seeds; ++s)); do
    "$build/bench/vornakite-gendirty" --seed "$s" "$work/seed$s.Vornakite" "$work/seed$s.csv" >&2
    args+=("$work/seed$s.Vornakite" "$work/seed$s.csv")
done
"$build/bench/vornakite-evalclean" "${check[@]}" "${args[@]}"
