#!/usr/bin/env bash
# Times the scan, the keyword filter and the export on generated mailboxes against wc -l and csplit.
# Usage: bench/mail/run.sh [BUILD_DIR]     (default: build/bench, configured with benchmarks on)
# Environment: TMPDIR (where the mailboxes go), QM_BIG (default 1G), QM_HUGE (default 4G; 0 skips
# it), QM_EXPORT (default 100M), QM_RUNS (timed runs per command, default 5), QM_SEED (default 1).
# Figures only: nothing here fails on time.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build/bench}
BIN=$BUILD/bench/mail
BIG_SIZE=${QM_BIG:-1G}
HUGE_SIZE=${QM_HUGE:-4G}
EXPORT_SIZE=${QM_EXPORT:-100M}
RUNS=${QM_RUNS:-5}
SEED=${QM_SEED:-1}

for tool in "$BIN/quillmend-mailgen" "$BIN/quillmend-mailbench"; do
  [[ -x $tool ]] || { echo "missing $tool: build it first (ninja -C $BUILD quillmend-mailgen quillmend-mailbench)" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "hyperfine is needed" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmend-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
BIG=$WORK/big.mbx
SMALL=$WORK/export.mbx
OUT=$WORK/out

echo "== generating $BIG_SIZE and $EXPORT_SIZE mailboxes in $WORK (seed $SEED)"
# With its index, about 2 % of the messages left out as if deleted; noindex.mbx is the same file
# without one.
"$BIN/quillmend-mailgen" --seed "$SEED" --size "$BIG_SIZE" --toc 20 "$BIG"
ln "$BIG" "$WORK/noindex.mbx"
"$BIN/quillmend-mailgen" --seed "$SEED" --size "$EXPORT_SIZE" "$SMALL"
HUGE=
if [[ $HUGE_SIZE != 0 ]]; then
  HUGE=$WORK/huge.mbx
  "$BIN/quillmend-mailgen" --seed "$SEED" --size "$HUGE_SIZE" "$HUGE"
fi
cat "$BIG" "${BIG%.mbx}.toc" "$SMALL" $HUGE >/dev/null  # into the page cache

HF=(hyperfine --style basic --warmup 1 --runs "$RUNS")

echo "== listing: scan vs wc -l"
"${HF[@]}" --export-json "$WORK/scan.json" \
  -n "wc -l" "wc -l $BIG" \
  -n "scan" "$BIN/quillmend-mailbench scan $BIG"

CLI=$BUILD/cli/quillmend-cli
if [[ -x $CLI ]]; then
  echo "== listing through quillmend-cli (tsv to /dev/null)"
  "${HF[@]}" --export-json "$WORK/cli.json" \
    -n "wc -l" "wc -l $BIG" \
    -n "quillmend-cli list" "$CLI list $BIG --format tsv >/dev/null"
  echo "== listing with and without the mail client's index"
  "${HF[@]}" --export-json "$WORK/index.json" \
    -n "without index" "$CLI list $WORK/noindex.mbx --format tsv >/dev/null 2>&1" \
    -n "with index" "$CLI list $BIG --format tsv >/dev/null 2>&1"
fi

if [[ -x $CLI ]]; then
  # The scan on every core against the tools that only read: one run compares them all.
  for box in "$BIG" $HUGE; do
    name=$(basename "$box" .mbx)
    echo "== listing $name on 1 and 2 threads and on 1 core, against wc -l, cat and grep -c"
    "${HF[@]}" --export-json "$WORK/cores-$name.json" \
      -n "wc -l" "wc -l $box" \
      -n "cat" "cat $box >/dev/null" \
      -n "grep -c" "grep -c '^From ???@??? ' $box | cat" \
      -n "list, 1 thread" "$CLI list $box --format tsv --threads 1 >/dev/null 2>&1" \
      -n "list, 2 threads" "$CLI list $box --format tsv --threads 2 >/dev/null 2>&1" \
      -n "list, 1 core" "taskset -c 0 $CLI list $box --format tsv >/dev/null 2>&1" \
      -n "list, keyword" "$CLI list $box --format tsv --keyword zanzibar >/dev/null 2>&1"
    /usr/bin/time -f "  list $name: peak RSS %M KiB, %e s" "$CLI" list "$box" --format tsv 2>&1 >/dev/null | tail -1
  done
fi

echo "== listing with a keyword: scan + filter vs wc -l"
# An absent word searches every body part to its end (the worst case); a common one stops early.
"${HF[@]}" --export-json "$WORK/keyword.json" \
  -n "wc -l" "wc -l $BIG" \
  -n "keyword absent" "$BIN/quillmend-mailbench keyword $BIG zanzibar" \
  -n "keyword common" "$BIN/quillmend-mailbench keyword $BIG invoice"

echo "== exporting every message: export vs csplit"
"${HF[@]}" --export-json "$WORK/export.json" \
  --prepare "rm -rf $OUT && mkdir $OUT" \
  -n "csplit" "csplit -s -z -n 7 -f $OUT/x $SMALL '/^From ???@??? /' '{*}'" \
  -n "export" "$BIN/quillmend-mailbench export $SMALL $OUT"

if [[ -x $CLI ]]; then
  echo "== exporting every message rebuilt for mail programs: --rebuild and --mbox vs the byte-exact export"
  # -i: the generated mail names attachment files that do not exist, which the rebuilt export reports.
  "${HF[@]}" -i --export-json "$WORK/rebuild.json" \
    --prepare "rm -rf $OUT && mkdir $OUT" \
    -n "byte-exact" "$CLI export $SMALL $OUT" \
    -n "rebuilt" "$CLI export $SMALL $OUT --rebuild" \
    -n "mbox" "$CLI export $SMALL --mbox $OUT/all.mbox"
fi

echo "== peak memory (max RSS)"
for args in "scan $BIG" "keyword $BIG zanzibar"; do
  # shellcheck disable=SC2086
  /usr/bin/time -f "  $args: %M KiB, %e s" "$BIN/quillmend-mailbench" $args 2>&1 | sed 's/^messages/  messages/'
done
rm -rf "$OUT" && mkdir "$OUT"
/usr/bin/time -f "  export $EXPORT_SIZE: %M KiB, %e s" "$BIN/quillmend-mailbench" export "$SMALL" "$OUT" 2>&1 | sed 's/^messages/  messages/'
echo "  files: $(find "$OUT" -type f | wc -l)"
rm -rf "$OUT"

echo "== summary ($RUNS runs each; cpu = user + system, less sensitive to other load on the machine)"
python3 - "$WORK" <<'PY'
import json, os, sys
work = sys.argv[1]
def load(name):
    path = os.path.join(work, name + ".json")
    if not os.path.exists(path):
        return {}
    return {r["command"]: r for r in json.load(open(path))["results"]}
rows = []
def compare(table, base, cmd, target, label=None):
    t = load(table)
    if base in t and cmd in t:
        b, c = t[base], t[cmd]
        cpu = lambda r: r["user"] + r["system"]
        rows.append((label or cmd, c["mean"], c["min"], cpu(c), base, b["mean"], b["min"], cpu(b),
                     c["mean"] / b["mean"], c["min"] / b["min"], cpu(c) / cpu(b), target))
compare("scan", "wc -l", "scan", "<= 3x (goal < 2x)")
compare("cli", "wc -l", "quillmend-cli list", "<= 3x")
compare("index", "without index", "with index", "<= 1.05x")
compare("keyword", "wc -l", "keyword absent", "<= 5x")
compare("keyword", "wc -l", "keyword common", "<= 5x")
compare("export", "csplit", "export", "<= 1x")
for name in ("big", "huge"):
    for cmd, target in (("cat", "figures only"), ("grep -c", "figures only"), ("list, 1 thread", "figures only"),
                        ("list, 1 core", "figures only"), ("list, 2 threads", "<= 1.2x"), ("list, keyword", "<= 2x")):
        compare("cores-" + name, "wc -l", cmd, target, f"{cmd} ({name})")
compare("rebuild", "byte-exact", "rebuilt", "figures only")
compare("rebuild", "byte-exact", "mbox", "figures only")
print(f"{'command':<26}{'mean':>8}{'min':>8}{'cpu':>8}   {'baseline':<8}{'mean':>8}{'min':>8}{'cpu':>8}"
      f"{'mean':>8}{'min':>7}{'cpu':>7}  target")
for cmd, cm, cn, cc, base, bm, bn, bc, rm, rn, rc, target in rows:
    print(f"{cmd:<26}{cm:8.3f}{cn:8.3f}{cc:8.3f}   {base:<8}{bm:8.3f}{bn:8.3f}{bc:8.3f}"
          f"{rm:7.2f}x{rn:6.2f}x{rc:6.2f}x  {target}")
print("(seconds; the last three columns are ratios to the baseline)")
PY
