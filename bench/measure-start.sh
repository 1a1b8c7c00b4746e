#!/bin/sh
# Times start-up with a journal of N "finished" entries (a run whose history saves all failed)
# in an isolated data home: the model's construction (history load, journal merge, the save
# after it) as `tessyn-bench start` reports it, and the whole process.
#   measure-start.sh [BENCH] [N...]   (BENCH defaults to build/bench/tessyn-bench; N to 10000 40000 80000)
#   HISTORY=M: the history already holds M older records.  RESTORED=K: K of the N entries are
#   restore receipts of history records.  RUNS=r: runs per size (default 3).
set -eu
bench=${1:-build/bench/tessyn-bench}
[ $# -gt 0 ] && shift
sizes=${*:-10000 40000 80000}
work=$(mktemp -d /tmp/tessyn-start.XXXXXX)
trap 'rm -rf "$work"' EXIT
for n in $sizes; do
    run=0
    while [ "$run" -lt "${RUNS:-3}" ]; do
        rm -rf "$work/data"
        XDG_DATA_HOME="$work/data" "$bench" fill-stores --journal "$n" --history "${HISTORY:-0}" \
            --restored "${RESTORED:-0}" > "$work/fill"
        start=$(date +%s.%N)
        HOME="$work" XDG_DATA_HOME="$work/data" "$bench" start > "$work/out"
        end=$(date +%s.%N)
        printf '%s entries: %s; %s; process %.3f s\n' "$n" "$(cat "$work/fill")" \
            "$(grep 'model built in' "$work/out")" "$(echo "$end - $start" | bc)"
        grep -q '^notes: 1$' "$work/out" || { echo "unexpected notes:"; cat "$work/out"; exit 1; }
        run=$((run + 1))
    done
done
