#!/bin/sh
# Moves N small files to the Trash through the model in an isolated home and reports the
# time, peak memory, the bytes written to the journal, the history and the Trash info files,
# and the flushes (fsync, fdatasync), per file; then moves the same files with `gio trash`
# and `trash-put` (one invocation each) on the same file system for comparison.
#   measure-workflow.sh N [BENCH]   (BENCH defaults to build/bench/tessyn-bench)
#   PEERS=0: Tessyn only.  SETTLE=s: seconds to wait before each timed run (default 35).
# The byte counts come from a second run under strace, so they do not slow the timed run.
# Before each timed run the script waits: ext4 without a journal skips recently freed inodes
# one by one when it makes a file, so files deleted just before (an earlier run's tree) would
# slow every .trashinfo created, whichever tool makes it.
set -eu
count=${1:?usage: measure-workflow.sh N [BENCH]}
bench=${2:-build/bench/tessyn-bench}
settle=${SETTLE:-35}
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
    sync
    sleep "$settle"
}

in_home() {
    HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" "$@"
}

run() {
    in_home "$@" workflow "$work/tree" --select all
}

trashed() {
    find "$work/home/.local/share/Trash/files" -mindepth 1 -maxdepth 1 2> /dev/null | wc -l
}

make_tree
echo "== tessyn, timed run, $count files"
run "$bench"

make_tree
# One trace file per thread: with one file, calls of two threads split into "unfinished" and
# "resumed" lines and the resumed half, which holds the count, names no file.
run strace -ff --seccomp-bpf -e trace=write,fsync,fdatasync -y -o "$work/trace" "$bench" > /dev/null
cat "$work"/trace.* | awk -v n="$count" '
    /fsync\(|fdatasync\(/  { flushes++; next }
    /pending-actions\.json/ { if (match($0, /= [0-9]+$/)) journal += substr($0, RSTART + 2) }
    /operations\.json/      { if (match($0, /= [0-9]+$/)) history += substr($0, RSTART + 2) }
    /\.trashinfo/           { if (match($0, /= [0-9]+$/)) info += substr($0, RSTART + 2) }
    END { printf "journal bytes written: %d (%.0f per file)\nhistory bytes written: %d (%.0f per file)\n",
                 journal, journal / n, history, history / n
          printf "trash info bytes written: %d (%.0f per file)\nflushes: %d (%.1f per file)\n",
                 info, info / n, flushes, flushes / n }'

[ "${PEERS:-1}" = 1 ] || exit 0
peer() { # name command...
    name=$1
    shift
    if ! command -v "$1" > /dev/null; then
        echo "== $name: missing"
        return
    fi
    make_tree
    find "$work/tree" -type f -print0 | sort -z > "$work/list"
    start=$(date +%s.%N)
    xargs -0 -s 1900000 -a "$work/list" sh -c 'HOME="$0" XDG_DATA_HOME="$0/.local/share" exec "$@"' "$work/home" "$@"
    end=$(date +%s.%N)
    moved=$(trashed)
    echo "== $name: $(echo "scale=3; ($end - $start) * 1000 / $count" | bc) ms per file, $moved of $count in the Trash"
    [ "$moved" -eq "$count" ] || { echo "$name: not every file moved"; exit 1; }
}
peer "gio trash" gio trash --
peer trash-put trash-put --
