#!/usr/bin/env bash
# Moves N small files (default 10,000, 100 per folder) to the Trash with `tessyn-bench trash`
# (one scan, one run with the real journal and the model's history checkpoints, then one
# history save, as the model does; journal_bytes leaves out the checkpoints' history bytes) and
# the same number of identical files with `gio trash` and `trash-put` in one invocation each; then restores
# Tessyn's with `tessyn-bench restore-last`. Each tool gets its own HOME and XDG_DATA_HOME
# in a temporary folder on the file system of the files, so every move is a rename.
# Prints the time per file, Tessyn's journal bytes per file, and checks that every file
# reached the Trash and came back.
#   bench/compare-trash.sh [N]     BATCH=n: also runs Tessyn in runs of n files;
#                                  TESSYN_BENCH=path: the tessyn-bench binary to use
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-10000}
bin=$(realpath "${TESSYN_BENCH:-build/bench/tessyn-bench}")
[ -x "$bin" ] || { echo "build first: cmake --build build"; exit 1; }
command -v gio > /dev/null || { echo "gio is missing (package libglib2.0-bin)"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tessyn-trash-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# N files of 1 to 100 bytes in folders of 100.
make_files() {
  python3 - "$1" "$n" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, "d%03d" % (i // 100))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d.txt" % i), "wb") as f:
        f.write(b"x" * (1 + i % 100))
PY
}

now() { date +%s.%N; }
count_trash() { find "$1/Trash/files" -mindepth 1 -maxdepth 1 2> /dev/null | wc -l; }

run_tessyn() { # name batch
  local dir=$work/$1
  mkdir -p "$dir/home" "$dir/data" "$dir/root"
  make_files "$dir/root"
  sync
  mapfile -d '' files < <(find "$dir/root" -type f -print0 | sort -z)
  local start end
  start=$(now)
  HOME=$dir/home XDG_DATA_HOME=$dir/data "$bin" trash "$dir/root" "${files[@]}" --quiet --batch "$2" \
    > "$dir/summary.txt"
  end=$(now)
  local moved
  moved=$(count_trash "$dir/data")
  echo "tessyn ($1): $(cat "$dir/summary.txt")"
  echo "tessyn ($1): wall=$(echo "$end - $start" | bc) s, $moved of $n in the Trash"
  [ "$moved" -eq "$n" ] || { echo "tessyn ($1): not every file moved"; exit 1; }

  start=$(now)
  HOME=$dir/home XDG_DATA_HOME=$dir/data "$bin" restore-last "$n" --quiet > "$dir/restore.txt"
  end=$(now)
  local back
  back=$(find "$dir/root" -type f | wc -l)
  echo "tessyn ($1) restore: $(cat "$dir/restore.txt"), wall=$(echo "$end - $start" | bc) s, $back of $n back"
  [ "$back" -eq "$n" ] || { echo "tessyn ($1): not every file came back"; exit 1; }
  rm -rf "$dir"
}

# All files on one command line, so gio runs exactly once, like Tessyn.
run_gio() {
  local dir=$work/gio
  mkdir -p "$dir/home" "$dir/data" "$dir/root"
  make_files "$dir/root"
  sync
  mapfile -d '' files < <(find "$dir/root" -type f -print0 | sort -z)
  local start end
  start=$(now)
  HOME=$dir/home XDG_DATA_HOME=$dir/data gio trash -- "${files[@]}"
  end=$(now)
  local moved
  moved=$(count_trash "$dir/data")
  local wall
  wall=$(echo "$end - $start" | bc)
  echo "gio trash: wall=$wall s, per_file_ms=$(echo "scale=3; $wall * 1000 / $n" | bc), $moved of $n in the Trash"
  [ "$moved" -eq "$n" ] || { echo "gio: not every file moved"; exit 1; }
  rm -rf "$dir"
}

# trash-put (trash-cli) the same way, in one invocation.
run_trash_put() {
  command -v trash-put > /dev/null || { echo "trash-put: missing (package trash-cli)"; return; }
  local dir=$work/trash-put
  mkdir -p "$dir/home" "$dir/data" "$dir/root"
  make_files "$dir/root"
  sync
  mapfile -d '' files < <(find "$dir/root" -type f -print0 | sort -z)
  local start end wall moved
  start=$(now)
  HOME=$dir/home XDG_DATA_HOME=$dir/data trash-put -- "${files[@]}"
  end=$(now)
  moved=$(count_trash "$dir/data")
  wall=$(echo "$end - $start" | bc)
  echo "trash-put: wall=$wall s, per_file_ms=$(echo "scale=3; $wall * 1000 / $n" | bc), $moved of $n in the Trash"
  rm -rf "$dir"
}

echo "files: $n small files on $(df -T "$work" | awk 'NR==2 {print $2}')"
run_tessyn one-run 0
if [ -n "${BATCH:-}" ]; then run_tessyn "runs-of-$BATCH" "$BATCH"; fi
run_gio
run_trash_put
