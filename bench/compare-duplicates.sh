#!/usr/bin/env bash
# Times `tessyn-bench duplicates` against fdupes, jdupes and rmlint on one corpus (warm cache)
# and checks that Tessyn's groups equal fdupes' groups. All tools look for duplicates only,
# leave empty files out and count hard links once (fdupes -n without -H, jdupes without -H
# and -z, rmlint -T df -L); groups are compared as sets of file identities (device:inode), so
# which name of a hard-linked file a tool shows does not matter.
#   bench/compare-duplicates.sh [CORPUS_DIR] [SEED]
set -euo pipefail
cd "$(dirname "$0")/.."
seed=${2:-1}
corpus=${1:-bench/out/corpus-duplicates-$seed}
bin=build/bench/tessyn-bench
runs=${RUNS:-5}

[ -x "$bin" ] || { echo "build first: make build"; exit 1; }
if [ ! -d "$corpus" ]; then
  mkdir -p "$(dirname "$corpus")"
  bench/gen-duplicates-corpus "$corpus" --seed "$seed"
fi
corpus=$(realpath "$corpus")

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# Warm the page cache so every tool reads from memory.
find "$corpus" -type f -exec cat {} + > /dev/null

"$bin" duplicates "$corpus" --json > "$out/tessyn.json"
fdupes -r -n -q "$corpus" > "$out/fdupes.txt"
jdupes -r -q "$corpus" > "$out/jdupes.txt" 2>/dev/null
rmlint -T df -L --hidden -o fdupes:"$out/rmlint.txt" "$corpus" > /dev/null 2>&1

python3 - "$out" <<'PY'
import json, os, sys
out = sys.argv[1]

def identities(paths):
    ids = set()
    for p in paths:
        st = os.lstat(p)
        ids.add((st.st_dev, st.st_ino))
    return frozenset(ids)

def normalise(groups):
    result = set()
    for g in groups:
        ids = identities(g)
        if len(ids) >= 2:
            result.add(ids)
    return result

def blocks(path):
    groups, cur = [], []
    for line in open(path, "rb").read().decode("utf-8", "surrogateescape").split("\n"):
        if line == "":
            if cur:
                groups.append(cur)
            cur = []
        else:
            cur.append(line)
    if cur:
        groups.append(cur)
    return groups

tessyn = json.load(open(os.path.join(out, "tessyn.json")))
t = normalise(g["paths"] for g in tessyn["groups"])
print("tessyn: %d groups, %d warnings" % (len(tessyn["groups"]), len(tessyn["warnings"])))
ok = True
for tool in ("fdupes", "jdupes", "rmlint"):
    other = normalise(blocks(os.path.join(out, tool + ".txt")))
    same = other == t
    print("%-7s %d groups: %s" % (tool + ":", len(other), "same groups as tessyn" if same else
          "DIFFERENT (%d only in tessyn, %d only in %s)" % (len(t - other), len(other - t), tool)))
    if tool == "fdupes" and not same:
        ok = False
sys.exit(0 if ok else 1)
PY

hyperfine --warmup 2 --runs "$runs" --export-json "$out/dups.json" \
  -n tessyn "$bin duplicates '$corpus'" \
  -n fdupes "fdupes -r -n -q '$corpus' > /dev/null" \
  -n jdupes "jdupes -r -q '$corpus' > /dev/null 2>&1" \
  -n rmlint "rmlint -T df -L --hidden -o fdupes:/dev/null '$corpus' > /dev/null 2>&1"
python3 - "$out/dups.json" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
print("median seconds: " + ", ".join("%s %.3f" % (k, v) for k, v in r.items()))
peers = {k: v for k, v in r.items() if k != "tessyn"}
fastest = min(peers, key=peers.get)
print("tessyn/fdupes = %.2f   tessyn/jdupes = %.2f   tessyn/rmlint = %.2f   fastest peer: %s" % (
    r["tessyn"] / r["fdupes"], r["tessyn"] / r["jdupes"], r["tessyn"] / r["rmlint"], fastest))
if r["tessyn"] > peers[fastest]:
    print("SLOWER than %s" % fastest)
    sys.exit(1)
PY
