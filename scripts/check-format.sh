#!/usr/bin/env bash
# Fails when a C++ source differs from the project's clang-format style.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(find core cli app tests bench -name '*.cpp' -o -name '*.hpp' 2>/dev/null | sort)
clang-format --dry-run --Werror "${files[@]}"
echo "${#files[@]} files formatted"
