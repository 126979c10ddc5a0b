#!/usr/bin/env bash
# Times `convert` of a generated Eudora folder tree into each store, against `export --rebuild` of the
# same mailboxes one by one: messages a second and peak memory. Figures only: nothing here fails on time.
# Usage: bench/document/convert.sh [BUILD_DIR]   (default: build/release)
# Environment: TMPDIR (where the tree and the outputs go), QM_SIZE (of the whole tree, default 1G:
# In 40 %, Out 10 %, Work/Projects 30 %, Work/Clients 20 %), QM_SEED (default 1).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build/release}
CLI=$BUILD/cli/quillmend-cli
GEN=$BUILD/bench/mail/quillmend-mailgen
SIZE=${QM_SIZE:-1G}
SEED=${QM_SEED:-1}
for tool in "$CLI" "$GEN"; do
  [[ -x $tool ]] || { echo "missing $tool: build it first" >&2; exit 1; }
done

bytes=$(numfmt --from=iec "$SIZE")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmend-convert-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
TREE=$WORK/Eudora
mkdir -p "$TREE/Work.fol"

echo "== generating a $SIZE tree in $WORK (seed $SEED; about 2 % of each mailbox deleted)"
gen() { "$GEN" --seed "$1" --size "$(($2 * bytes / 100))" --toc 20 "$3" >/dev/null; }
gen "$SEED" 40 "$TREE/In.mbx"
gen $((SEED + 1)) 10 "$TREE/Out.mbx"
gen $((SEED + 2)) 30 "$TREE/Work.fol/Projects.mbx"
gen $((SEED + 3)) 20 "$TREE/Work.fol/Clients.mbx"
printf 'In,In.mbx,S,Y\r\nOut,Out.mbx,S,N\r\nWork Stuff,Work.fol,F,N\r\n' >"$TREE/descmap.pce"
printf 'Projects,Projects.mbx,M,N\r\nClients,Clients.mbx,M,N\r\n' >"$TREE/Work.fol/descmap.pce"
messages=$("$CLI" convert "$TREE" --maildir "$WORK/dry" --dry-run 2>/dev/null | awk '/^all /{print $4}')
du -sh --apparent-size "$TREE"
echo "messages: $messages"

# Runs a command once with a cold output folder: seconds, peak memory, messages a second.
measure() {
  local name=$1
  shift
  sync
  /usr/bin/time -f "%e %M" -o "$WORK/time" "$@" >/dev/null 2>"$WORK/err" || { cat "$WORK/err" >&2; return 1; }
  read -r seconds kilobytes <"$WORK/time"
  printf '%-28s %8.2f s %8d MB %10.0f messages/s\n' "$name" "$seconds" $((kilobytes / 1024)) \
    "$(echo "$messages / $seconds" | bc -l)"
}

for kind in maildir mbox-tree eml-tree; do
  measure "convert --$kind" "$CLI" convert "$TREE" --"$kind" "$WORK/out"
  measure "convert --$kind again" "$CLI" convert "$TREE" --"$kind" "$WORK/out"
  rm -rf "$WORK/out"
done

# The same messages as four exports, one a mailbox (live and deleted alike).
export_all() {
  local i=0
  for mailbox in "$TREE/In.mbx" "$TREE/Out.mbx" "$TREE/Work.fol/Projects.mbx" "$TREE/Work.fol/Clients.mbx"; do
    "$CLI" export "$mailbox" "$WORK/out/$i" --rebuild
    i=$((i + 1))
  done
}
export -f export_all
export CLI TREE WORK
measure "export --rebuild (4 mailboxes)" bash -c export_all
