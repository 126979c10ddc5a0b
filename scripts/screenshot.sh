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
mailbox=$root/examples/sample.mbx
[ -f "$mailbox" ] || mailbox=$root/tests/data/eudora-windows-7.1/In.mbx
QT_QPA_PLATFORM=offscreen "$build/app/quillmend-screenshot" "$mailbox" "$root/docs/screenshot.png"
echo "wrote $root/docs/screenshot.png from $mailbox"
