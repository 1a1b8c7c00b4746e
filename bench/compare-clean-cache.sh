#!/usr/bin/env bash
# Times a cache clean-up through the model (`tessyn-bench clean-cache N`), then, in the same
# run, the Files page's run of as many files and `trash-put` (bench/compare-trash.sh N).
#   bench/compare-clean-cache.sh [N]    TESSYN_BENCH=path: the tessyn-bench binary to use
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-3000}
bin=$(realpath "${TESSYN_BENCH:-build/bench/tessyn-bench}")
[ -x "$bin" ] || { echo "build first: cmake --build build"; exit 1; }
echo "clean-cache $n: $("$bin" clean-cache "$n" | grep -E '^(moved|ms-per-file):' | tr '\n' ' ')"
TESSYN_BENCH=$bin bench/compare-trash.sh "$n"
