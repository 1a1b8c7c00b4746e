#!/usr/bin/env bash
# Times a cache clean-up through the model (`tessyn-bench clean-cache N`) beside the Files
# page's run of the same number of files through the model (`tessyn-bench workflow`) and
# `trash-put`, one after the other on the same file system, each in its own HOME.
#   bench/compare-clean-cache.sh [N]    TESSYN_BENCH=path: the tessyn-bench binary to use
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-3000}
bin=$(realpath "${TESSYN_BENCH:-build/bench/tessyn-bench}")
[ -x "$bin" ] || { echo "build first: cmake --build build"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tessyn-clean-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
make_files() { # folder
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

echo "clean-cache $n: $(TMPDIR=$work "$bin" clean-cache "$n" | grep -E '^(moved|ms-per-file):' | tr '\n' ' ')"

dir=$work/files-page
mkdir -p "$dir/home" "$dir/data" "$dir/root"
make_files "$dir/root"
sync
trash=$(HOME=$dir/home XDG_DATA_HOME=$dir/data XDG_CONFIG_HOME=$dir/config "$bin" workflow "$dir/root" --select all |
  sed -n 's/^stage trash \([0-9.]*\)s$/\1/p')
echo "files page $n: ms-per-file: $(echo "scale=3; $trash * 1000 / $n" | bc)"
rm -rf "$dir"

if command -v trash-put > /dev/null; then
  dir=$work/trash-put
  mkdir -p "$dir/home" "$dir/data" "$dir/root"
  make_files "$dir/root"
  sync
  mapfile -d '' files < <(find "$dir/root" -type f -print0 | sort -z)
  start=$(date +%s.%N)
  HOME=$dir/home XDG_DATA_HOME=$dir/data trash-put -- "${files[@]}"
  end=$(date +%s.%N)
  echo "trash-put $n: ms-per-file: $(echo "scale=3; ($end - $start) * 1000 / $n" | bc)"
else
  echo "trash-put: missing (package trash-cli)"
fi
