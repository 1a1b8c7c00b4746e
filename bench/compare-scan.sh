#!/usr/bin/env bash
# Times `tessyn-bench scan` against find and gdu on one corpus (warm cache), checks that
# Tessyn's file count equals find's with the same exclusions, and measures peak memory.
#   bench/compare-scan.sh [ENTRIES] [CORPUS_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-1000000}
corpus=${2:-bench/out/corpus-scan-$entries}
bin=build/bench/tessyn-bench
runs=${RUNS:-5}

[ -x "$bin" ] || { echo "build first: make build"; exit 1; }
if [ ! -d "$corpus" ]; then
  mkdir -p "$(dirname "$corpus")"
  bench/gen-corpus "$corpus" --entries "$entries" --seed 1
fi

# The folders Tessyn never enters, as find expressions.
skip=( -name .Trash -o -name .Trashes -o -name .git -o -name Backups.backupdb -o -name Library
       -o -name System -o -regex '.*/\.Trash-[0-9]+' )
for ext in app bundle framework plugin kext rtfd pkg mpkg xpc appex prefpane qlgenerator mdimporter \
           saver wdgt photoslibrary photolibrary fcpbundle logicx band imovielibrary musiclibrary pages \
           numbers key xcodeproj xcworkspace playground scptd docset component vst vst3 aaplugin; do
  skip+=( -o -iname "?*.$ext" )
done

find_count=$(find "$corpus" -mindepth 1 -type d \( "${skip[@]}" \) -prune -o -type f -printf x | wc -c)
line=$("$bin" scan "$corpus")
tessyn_count=$(sed -E 's/.*files=([0-9]+).*/\1/' <<<"$line")
echo "tessyn: $line"
echo "find:   files=$find_count"
if [ "$find_count" != "$tessyn_count" ]; then
  echo "MISMATCH: Tessyn found $tessyn_count files, find $find_count"
  exit 1
fi
echo "file counts agree"

rss_kb=$(/usr/bin/time -f '%M' "$bin" scan "$corpus" 2>&1 >/dev/null | tail -1)
echo "peak RSS: ${rss_kb} KiB = $(( rss_kb * 1024 / tessyn_count )) bytes per file record"

out=$(mktemp -d)
hyperfine --warmup 2 --runs "$runs" --export-json "$out/scan.json" \
  -n tessyn "$bin scan '$corpus'" \
  -n find "find '$corpus' -printf '%s %b\n' > /dev/null" \
  -n gdu "gdu -n -p '$corpus' > /dev/null"
python3 - "$out/scan.json" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
print("median seconds: " + ", ".join("%s %.3f" % (k, v) for k, v in r.items()))
print("tessyn/find = %.2f   tessyn/gdu = %.2f" % (r["tessyn"] / r["find"], r["tessyn"] / r["gdu"]))
PY
rm -rf "$out"
