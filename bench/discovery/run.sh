#!/usr/bin/env bash
# Times `quillmend-cli find ROOT` against `find ROOT -xdev -iname '*.mbx'` on a generated tree,
# warm cache, after checking that it lists exactly the mailboxes, backups and Mac mailboxes that
# find and head say are there. Deletes the tree afterwards.
# Usage: bench/discovery/run.sh [BUILD_DIR]     (default: build/disc)
# Environment: TMPDIR (where the tree goes), QM_ENTRIES (default 200000), QM_RUNS (timed runs per
# command, default 10), QM_SEED (default 1).
# Figures only: nothing here fails on time.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build/disc}
BIN=$BUILD/bench/discovery
CLI=$BUILD/cli/quillmend-cli
ENTRIES=${QM_ENTRIES:-200000}
RUNS=${QM_RUNS:-10}
SEED=${QM_SEED:-1}

for tool in "$BIN/quillmend-treegen" "$BIN/quillmend-findbench" "$CLI"; do
  [[ -x $tool ]] || { echo "missing $tool: build it first (ninja -C $BUILD quillmend-treegen quillmend-findbench quillmend-cli)" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "hyperfine is needed" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmend-findbench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
TREE=$WORK/tree

echo "== generating $ENTRIES entries in $TREE (seed $SEED)"
"$BIN/quillmend-treegen" --seed "$SEED" --entries "$ENTRIES" "$TREE"

echo "== same answer"
"$CLI" find "$TREE" | sort >"$WORK/ours.txt"
{
  find "$TREE" -xdev -type f \( -iname '*.mbx' -o -iname '*.mbx.[0-9][0-9][0-9]' \)
  # Mac mailboxes: no extension, the first 13 bytes a separator.
  find "$TREE" -xdev -type f ! -name '*.*' -size +0 -exec sh -c \
    'for f; do [ "$(head -c 13 "$f")" = "From ???@??? " ] && printf "%s\n" "$f"; done; true' sh {} +
} | sort >"$WORK/find.txt"
cmp -s "$WORK/ours.txt" "$WORK/find.txt" || { echo "the lists differ" >&2; diff "$WORK/ours.txt" "$WORK/find.txt" | head >&2; exit 1; }
echo "$(wc -l <"$WORK/ours.txt") mail files, both"

echo "== warm cache: quillmend-cli find vs find -xdev -iname"
hyperfine --style basic --warmup 3 --runs "$RUNS" --export-json "$WORK/find.json" \
  -n "find -xdev -iname" "find $TREE -xdev -iname '*.mbx'" \
  -n "quillmend-cli find" "$CLI find $TREE" \
  -n "findbench (idle callback)" "$BIN/quillmend-findbench $TREE"

APP=$BUILD/bench/app/quillmend-app-bench
if [[ -x $APP ]]; then
  echo "== the same through the window's Auto Scan (offscreen)"
  for _ in 1 2 3; do QT_QPA_PLATFORM=offscreen "$APP" --tree "$TREE" 2>/dev/null; done
fi

if command -v python3 >/dev/null; then
  python3 - "$WORK/find.json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
base = results["find -xdev -iname"]["mean"]
for name, r in results.items():
    print(f"{name:28s} mean {r['mean'] * 1000:8.1f} ms  median {r['median'] * 1000:8.1f} ms  "
          f"user {r['user'] * 1000:7.1f} ms  system {r['system'] * 1000:7.1f} ms  {r['mean'] / base:5.2f}x find")
PY
fi
