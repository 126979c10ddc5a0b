#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer under ASan and UBSan (preset fuzz), replays each
# seed corpus and then fuzzes each target for SECONDS (default 20). New inputs go to a scratch folder
# that is removed afterwards; a crash leaves its input in build/fuzz/crashes/ and fails the run.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}

if ! command -v clang++ >/dev/null; then
  echo "fuzz: skipped, clang++ is missing (Debian: clang libclang-rt-14-dev)"
  exit 0
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)"

crashes=build/fuzz/crashes
mkdir -p "$crashes"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillmend-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
status=0
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  mkdir -p "$scratch/$name"
  # A hang is a failure too: -timeout bounds one input, -max_total_time the whole run.
  if build/fuzz/fuzz/"$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=0 \
       -artifact_prefix="$crashes/$name-" -dict=fuzz/mailbox.dict "$scratch/$name" "$corpus" \
       >"$scratch/$name.log" 2>&1; then
    echo "fuzz: $name: $(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$scratch/$name.log" | tail -1 || echo done)s"
  else
    status=1
    echo "fuzz: $name FAILED:"
    tail -40 "$scratch/$name.log"
  fi
done
exit $status
