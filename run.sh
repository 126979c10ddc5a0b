#!/usr/bin/env bash
# ./run.sh            starts the Quillmend window
# ./run.sh ARGS...    runs the command-line tool, e.g. ./run.sh list examples/sample.mbx
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh >&2
if [ $# -eq 0 ]; then
  exec build/release/app/quillmend
fi
exec build/release/cli/quillmend-cli "$@"
