#!/usr/bin/env bash
# Times `carve` on a raw image against `cat` of it (page cache warm) and against the general-purpose
# carver PhotoRec (Debian's testdisk) on the same image: seconds, peak memory, and the messages each
# brings back whole, byte for byte. Figures only: nothing here fails on time.
# Usage: bench/carve/carve.sh [BUILD_DIR]   (default: build/release)
# Environment: TMPDIR (where the image and the outputs go), QM_IMAGE (size, default 4G), QM_MAIL (the
# generated mailbox cut into it, default 1G), QM_SEED (default 1), QM_PHOTOREC=0 to leave PhotoRec out.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build/release}
CLI=$BUILD/cli/quillmend-cli
GEN=$BUILD/bench/mail/quillmend-mailgen
for tool in "$CLI" "$GEN"; do
  [[ -x $tool ]] || { echo "missing $tool: build it first" >&2; exit 1; }
done
IMAGE_SIZE=$(numfmt --from=iec "${QM_IMAGE:-4G}")
SEED=${QM_SEED:-1}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmend-carve-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

echo "== generating a ${QM_MAIL:-1G} mailbox cut into a ${QM_IMAGE:-4G} image in $WORK (seed $SEED)"
"$GEN" --seed "$SEED" --size "${QM_MAIL:-1G}" "$WORK/mail.mbx" >/dev/null
python3 "$ROOT/bench/carve/make_raw_image.py" "$WORK/mail.mbx" "$WORK/disk.img" "$IMAGE_SIZE" "$SEED"
rm "$WORK/mail.mbx"
chmod 0444 "$WORK/disk.img"

# name, then the command: wall seconds and peak memory.
measure() {
  local name=$1
  shift
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$WORK/rss" "$@" >/dev/null 2>"$WORK/err" || { cat "$WORK/err" >&2; return 1; }
  end=$(date +%s.%N)
  printf '%-34s %8.2f s  %8d MB peak\n' "$name" "$(echo "$end - $start" | bc)" $(($(cat "$WORK/rss") / 1024))
}

cat "$WORK/disk.img" >/dev/null  # the page cache warm for every run
measure "cat" cat "$WORK/disk.img"
measure "carve (list, tsv)" "$CLI" carve "$WORK/disk.img" --format tsv
measure "carve (list, tsv, 1 thread)" taskset -c 0 "$CLI" carve "$WORK/disk.img" --format tsv
measure "carve into a folder" "$CLI" carve "$WORK/disk.img" "$WORK/quillmend"
python3 "$ROOT/bench/carve/count_recovered.py" "$WORK/disk.img.json" "$WORK/quillmend" | sed 's/^/carve: /'
rm -rf "$WORK/quillmend"

if [[ ${QM_PHOTOREC:-1} != 0 ]] && command -v photorec >/dev/null; then
  mkdir -p "$WORK/photorec"
  # Text files and the mailbox family (tx?), which holds the separator line; everything else off.
  (cd "$WORK" && measure "photorec (txt, tx?)" photorec /log /d "$WORK/photorec/recup_dir" /cmd "$WORK/disk.img" \
    'partition_none,fileopt,everything,disable,txt,enable,tx?,enable,search')
  python3 "$ROOT/bench/carve/count_recovered.py" "$WORK/disk.img.json" "$WORK/photorec" | sed 's/^/photorec: /'
else
  echo "photorec: not installed (Debian: testdisk) or left out"
fi
