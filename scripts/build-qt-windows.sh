#!/usr/bin/env bash
# Builds Qt for 64-bit Windows with mingw-w64 from Debian's own qt6-base source package, the same
# version as the host Qt whose moc, rcc and uic the cross build runs. Only what the window needs:
# Core, Gui, Widgets, Test, the windows and offscreen platform plugins, the image formats a preview
# shows. Installs into a cache outside the clone keyed by the source version, and prints its path;
# a finished cache is reused, anything else is built again from scratch.
#
#   scripts/build-qt-windows.sh            build when missing, print the install folder
#   scripts/build-qt-windows.sh --path     only print where it is (or would be)
#
# QUILLMEND_QT_CACHE names the cache's parent folder (default ~/.cache/quillmend). Needs root (or
# sudo) once to add a deb-src line for the running suite and to fetch the source.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null || true)
if [ -z "$version" ]; then
  echo "build-qt-windows: qt6-base-dev-tools is not installed; run scripts/setup.sh first" >&2
  exit 1
fi
cache_root=${QUILLMEND_QT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillmend}
prefix="$cache_root/qt-$version-mingw64"
if [ "${1:-}" = "--path" ]; then
  echo "$prefix"
  exit 0
fi
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
if ! apt-get source --print-uris "qt6-base=$version" >/dev/null 2>&1; then
  # Debian lists no sources by default: one deb-src line for this suite, its own file.
  $sudo tee /etc/apt/sources.list.d/quillmend-qt-source.sources >/dev/null <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  $sudo apt-get update -qq
fi

start=$SECONDS
work="$cache_root/qt-$version-work"
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
apt-get source --download-only "qt6-base=$version" >/dev/null 2>&1
# Unpacked with Debian's patches applied: the security fixes among them.
dpkg-source --no-check -x ./*.dsc source >/dev/null

triplet=x86_64-w64-mingw32
host_cmake=$(dirname "$(dirname "$(dpkg -L qt6-base-dev | grep -m1 '/cmake/Qt6/Qt6Config.cmake$')")")
# The mingw runtime (libstdc++, libgcc, winpthread) is linked into each Qt library and plugin (a
# module to CMake), so the window ships Qt's own DLLs and nothing of the compiler's.
cmake -S source -B build -G Ninja -Wno-dev \
  -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=x86_64 \
  -DCMAKE_C_COMPILER=$triplet-gcc-posix -DCMAKE_CXX_COMPILER=$triplet-g++-posix \
  -DCMAKE_RC_COMPILER=$triplet-windres \
  -DCMAKE_FIND_ROOT_PATH=/usr/$triplet \
  -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY \
  -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY \
  -DCMAKE_SHARED_LINKER_FLAGS=-static -DCMAKE_MODULE_LINKER_FLAGS=-static -DCMAKE_EXE_LINKER_FLAGS=-static \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF \
  -DFEATURE_concurrent=OFF -DFEATURE_printsupport=OFF -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF \
  -DFEATURE_dynamicgl=OFF `# on by itself on Windows even without OpenGL, and then the plugin fails` \
  -DFEATURE_directwrite3=OFF `# its font database is built into Gui only with Direct2D` \
  -DFEATURE_direct2d=OFF -DFEATURE_zstd=OFF -DFEATURE_icu=OFF \
  -DFEATURE_androiddeployqt=OFF -DFEATURE_windeployqt=OFF -DFEATURE_macdeployqt=OFF \
  -DFEATURE_tabletevent=OFF `# Debian's source leaves out the Wintab header it needs` \
  >configure.log || { tail -30 configure.log >&2; exit 1; }
configured=$SECONDS
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" >build.log || { grep -m5 -A5 "error" build.log >&2; exit 1; }
cmake --install build >/dev/null
touch "$prefix/.complete"
cd "$repo"
rm -rf "$work"
echo "build-qt-windows: Qt $version for Windows in $((SECONDS - start)) s (configure $((configured - start)) s)" >&2
echo "$prefix"
