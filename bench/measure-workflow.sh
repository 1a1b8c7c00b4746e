#!/bin/sh
# Moves N small files to the Trash through the model in an isolated home and reports the
# time, peak memory, the bytes written to the journal, the history and the Trash info files,
# and the flushes (fsync, fdatasync), per file.
#   measure-workflow.sh N [BENCH]   (BENCH defaults to build/bench/tessyn-bench)
# The byte counts come from a second run under strace, so they do not slow the timed run.
set -eu
count=${1:?usage: measure-workflow.sh N [BENCH]}
bench=${2:-build/bench/tessyn-bench}
work=$(mktemp -d /tmp/tessyn-measure.XXXXXX)
trap 'rm -rf "$work"' EXIT

make_tree() {
    rm -rf "$work/home" "$work/tree"
    mkdir -p "$work/home" "$work/tree"
    python3 - "$work/tree" "$count" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, "d%03d" % (i // 500))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "file%06d.txt" % i), "w") as f:
        f.write("small file %d\n" % i)
PY
}

run() {
    HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" "$@" workflow "$work/tree" --select all
}

make_tree
echo "== timed run, $count files"
run "$bench"

make_tree
run strace -f --seccomp-bpf -e trace=write,fsync,fdatasync -y -o "$work/trace" "$bench" > /dev/null
awk -v n="$count" '
    /fsync\(|fdatasync\(/  { flushes++; next }
    /pending-actions\.json/ { if (match($0, /= [0-9]+$/)) journal += substr($0, RSTART + 2) }
    /operations\.json/      { if (match($0, /= [0-9]+$/)) history += substr($0, RSTART + 2) }
    /\.trashinfo/           { if (match($0, /= [0-9]+$/)) info += substr($0, RSTART + 2) }
    END { printf "journal bytes written: %d (%.0f per file)\nhistory bytes written: %d (%.0f per file)\n",
                 journal, journal / n, history, history / n
          printf "trash info bytes written: %d (%.0f per file)\nflushes: %d (%.1f per file)\n",
                 info, info / n, flushes, flushes / n }' "$work/trace"
