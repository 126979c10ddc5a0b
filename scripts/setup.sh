#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing) and builds the release tree.
# Sourced by run.sh and test.sh; QUILLMEND_EXTRA_PACKAGES adds packages (CI adds the Windows tools).
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config libgtest-dev libbenchmark-dev
          qt6-base-dev qt6-base-dev-tools libgl-dev libglx-dev ${QUILLMEND_EXTRA_PACKAGES:-})

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
