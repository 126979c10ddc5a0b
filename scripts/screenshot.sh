#!/bin/sh
# Renders the main window with the sample mailbox loaded into docs/screenshot.png.
# Usage: scripts/screenshot.sh [BUILD_DIR]   (default build/app; builds the helper when needed)
#        scripts/screenshot.sh --windows     the real quillmend.exe under Wine, into
#                                            docs/screenshot-windows.png (needs scripts/build-qt-windows.sh)
set -e
root=$(cd "$(dirname "$0")/.." && pwd)

# The Windows build, installed as its zip unpacks, started on a copy of a Windows Eudora's In.mbx
# under Wine with Qt's own windows platform, on a virtual X display; the screen is captured once it
# has stopped changing.
windows() {
  . "$root/scripts/wine.sh"
  if [ -z "$wine" ] || ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    echo "screenshot: the Windows one needs wine64 and g++-mingw-w64-x86-64-posix" >&2
    exit 1
  fi
  QUILLMEND_WINDOWS_QT=${QUILLMEND_WINDOWS_QT-$("$root/scripts/build-qt-windows.sh" --path)}
  export QUILLMEND_WINDOWS_QT
  if [ ! -f "$QUILLMEND_WINDOWS_QT/lib/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake" ]; then
    echo "screenshot: no Qt for Windows in $QUILLMEND_WINDOWS_QT; scripts/build-qt-windows.sh builds it" >&2
    exit 1
  fi
  missing=""
  command -v Xvfb >/dev/null || missing="xvfb"
  command -v import >/dev/null || missing="$missing imagemagick"
  if [ -n "$missing" ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    # shellcheck disable=SC2086  # one word a package
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
  fi

  cd "$root"
  cmake --preset windows-cross >/dev/null
  cmake --build --preset windows-cross --target quillmend quillmend-cli -j 2
  work=$(mktemp -d "${TMPDIR:-/tmp}/quillmend-screenshot.XXXXXX")
  wineserver="$(dirname "$wine")/wineserver64"
  [ -x "$wineserver" ] || wineserver="$(dirname "$wine")/wineserver"
  xvfb=""
  cleanup() {
    WINEPREFIX="$work/wine" "$wineserver" -k 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
  }
  trap cleanup EXIT INT TERM

  # Neutral folders: the window shows the mailbox's path, and nothing of this machine's.
  export WINEPREFIX="$work/wine" WINEDEBUG=-all LC_ALL=C.UTF-8
  unset WINEPATH QT_PLUGIN_PATH QT_QPA_PLATFORM
  # No Mono or Gecko installer asks anything on the new prefix.
  WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot --init >/dev/null 2>&1
  cmake --install build/windows-cross --prefix "$WINEPREFIX/drive_c/Quillmend" >/dev/null
  # Windows' own faces are not Wine's to give: its Tahoma stands in for Microsoft Sans Serif, the first
  # of the window's faces a Windows has, as Wine's own fonts do for its caption buttons. Without them
  # the window falls back to a face Wine draws with letters missing.
  for fonts in /usr/share/wine/fonts /usr/local/share/wine/fonts /opt/wine-stable/share/wine/fonts; do
    [ -f "$fonts/tahoma.ttf" ] || continue
    cp "$fonts"/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Microsoft Sans Serif' /d Tahoma /f >/dev/null 2>&1
    break
  done
  mkdir -p "$WINEPREFIX/drive_c/Eudora"
  cp tests/data/eudora-windows-7.1/In.mbx "$WINEPREFIX/drive_c/Eudora/In.mbx"

  width=1440 height=860
  Xvfb -displayfd 3 -screen 0 "${width}x${height}x24" -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb=$!
  while [ ! -s "$work/display" ]; do
    kill -0 "$xvfb" 2>/dev/null || { echo "screenshot: Xvfb did not start" >&2; exit 1; }
    sleep 0.2
  done
  DISPLAY=":$(cat "$work/display")"
  export DISPLAY
  # Wine's own desktop gives the window the frame and caption Windows draws.
  "$wine" explorer "/desktop=Quillmend,${width}x${height}" 'C:\Quillmend\bin\quillmend.exe' \
    -qwindowgeometry "$((width - 8))x$((height - 34))+0+0" 'C:\Eudora\In.mbx' >"$work/wine.log" 2>&1 &
  previous="" same=0
  for _ in $(seq 60); do
    sleep 1
    import -window root "$work/shot.png" 2>/dev/null || continue
    sum=$(cksum <"$work/shot.png")
    if [ "$sum" = "$previous" ]; then
      same=$((same + 1))
      [ "$same" -lt 3 ] || break
    else
      previous=$sum same=0
    fi
  done
  [ "$same" -ge 3 ] || { echo "screenshot: the window never settled under Wine: $(cat "$work/wine.log")" >&2; exit 1; }
  cp "$work/shot.png" "$root/docs/screenshot-windows.png"
  echo "wrote $root/docs/screenshot-windows.png from quillmend.exe under $("$wine" --version)"
}

if [ "${1:-}" = "--windows" ]; then
  windows
  exit 0
fi

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
