#!/bin/sh
# Renders the main window with the sample mailbox loaded into docs/screenshot.png.
# Usage: scripts/screenshot.sh [BUILD_DIR]   (default build/app; builds the helper when needed)
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/app}
if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target quillmend-screenshot -j 2
# The tree shows the mailbox's path: load a copy from a folder that looks like a user's, never the
# checkout's own path.
sample=$root/examples/sample.mbx
[ -f "$sample" ] || sample=$root/tests/data/eudora-windows-7.1/In.mbx
folder=/tmp/Eudora
mkdir -p "$folder"
cp "$sample" "$folder/In.mbx"
QT_QPA_PLATFORM=offscreen "$build/app/quillmend-screenshot" "$folder/In.mbx" "$root/docs/screenshot.png"
rm -f "$folder/In.mbx"
rmdir "$folder" 2>/dev/null || true
echo "wrote $root/docs/screenshot.png from a copy of $sample"
