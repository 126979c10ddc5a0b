#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing) and builds the release tree.
# Sourced by run.sh and test.sh; QUILLMEND_EXTRA_PACKAGES adds packages (CI adds the Windows tools).
set -euo pipefail

# locales: the sources scripts/test-windows.sh builds a Polish and a Russian locale from.
# python3: the tests compare header texts and dates with its email package, and read rebuilt
# mail back with its own mail parser; neomutt shows the rebuilt mail as a mail program does; Dovecot
# serves a converted Maildir back over IMAP, and takes uploads. libssl-dev: SHA-256 from libcrypto, and
# the check of an IMAP server's certificate. libetpan-dev: the IMAP client (libsasl2-modules for its
# AUTHENTICATE PLAIN); openssl makes the test servers' certificates. libewf-dev and libtsk-dev: carving
# reads EnCase images and places what it finds on the disk's file systems; dosfstools, mtools,
# e2fsprogs and ewf-tools make the disk images its tests carve.
packages=(build-essential cmake ninja-build pkg-config libgtest-dev libbenchmark-dev libssl-dev
          qt6-base-dev qt6-base-dev-tools libgl-dev libglx-dev locales python3 neomutt dovecot-imapd
          libetpan-dev libsasl2-modules openssl libewf-dev libtsk-dev dosfstools mtools e2fsprogs ewf-tools)
read -r -a extra <<<"${QUILLMEND_EXTRA_PACKAGES:-}"

missing() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t needed < <(missing "${packages[@]}")
mapfile -t needed_extra < <(missing "${extra[@]}")
if [ ${#needed[@]} -gt 0 ] || [ ${#needed_extra[@]} -gt 0 ]; then
  echo "Installing: ${needed[*]} ${needed_extra[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  export DEBIAN_FRONTEND=noninteractive
  if [ ${#needed[@]} -gt 0 ]; then
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${needed[@]}" >/dev/null
  fi
  # The extra tools (Wine) come with what they recommend, as a desktop installation of them would.
  if [ ${#needed_extra[@]} -gt 0 ]; then
    "${sudo_cmd[@]}" apt-get install -y -qq "${needed_extra[@]}" >/dev/null
  fi
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
