#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
ctest --preset release -j "$(nproc 2>/dev/null || echo 2)"
if [ -x scripts/test-windows.sh ]; then
  scripts/test-windows.sh
fi
