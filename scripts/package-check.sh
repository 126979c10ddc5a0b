#!/usr/bin/env bash
# Builds the Debian package and checks it (lintian, the desktop entry, the AppStream metainfo),
# installs it, runs what it installed (the tool, its manual page, the window offscreen) and removes
# it again; then unpacks the Windows zip and runs its quillmend-cli.exe under Wine on a real
# mailbox. Run by CI after ./test.sh; it installs and removes the package, so it needs root or sudo.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The checkers, installed only when missing; setup.sh also brings the release build up to date.
QUILLMEND_EXTRA_PACKAGES="lintian desktop-file-utils appstream man-db ${QUILLMEND_EXTRA_PACKAGES:-}"
source scripts/setup.sh >/dev/null
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmend-package.XXXXXX")
installed=0
wineserver=""
cleanup() {
  if [ "$installed" -eq 1 ]; then
    "${sudo_cmd[@]}" apt-get remove -y -qq --purge quillmend >/dev/null || true
  fi
  if [ -n "$wineserver" ]; then
    WINEPREFIX="$work/wine" "$wineserver" -k 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "package-check: $*" >&2
  exit 1
}

echo "== the Debian package =="
rm -f build/release/quillmend_*.deb
(cd build/release && cpack -G DEB >/dev/null)
deb=$(echo "$root"/build/release/quillmend_*.deb)
[ -f "$deb" ] || fail "cpack made no .deb in build/release"
dpkg-deb --field "$deb" Package Version Depends
status=0
lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || status=$?
# Its note that it runs as root (as CI does) left out.
grep -v 'root privileges' "$work/lintian.txt" || true
[ "$status" -eq 0 ] || fail "lintian found errors in $deb"

dpkg-deb -x "$deb" "$work/tree"
desktop-file-validate "$work"/tree/usr/share/applications/*.desktop
appstreamcli validate --no-net "$work"/tree/usr/share/metainfo/*.metainfo.xml
bash -n "$work/tree/usr/share/bash-completion/completions/quillmend-cli"

echo "== installed =="
export DEBIAN_FRONTEND=noninteractive
installed=1
"${sudo_cmd[@]}" apt-get install -y -qq --reinstall "$deb" >/dev/null
/usr/bin/quillmend-cli --version
page=/usr/share/man/man1/quillmend-cli.1.gz
[ -f "$page" ] || fail "the package did not install $page"
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$work/man.txt" 2>"$work/man.err"
[ ! -s "$work/man.err" ] || fail "man found faults in $page: $(cat "$work/man.err")"
grep -q "EXIT STATUS" "$work/man.txt" || fail "man -l $page shows no EXIT STATUS section"
echo "man -l $page: $(wc -l <"$work/man.txt") lines"
# The installed window, offscreen: it shows its main window and finds its installed help page.
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" timeout 60 /usr/bin/quillmend --self-test 2>&1 |
  tee "$work/window.txt"
grep -q "help page found: /usr/share/doc/quillmend/help.html" "$work/window.txt" ||
  fail "the installed window did not find its help page in /usr/share/doc/quillmend"
"${sudo_cmd[@]}" apt-get remove -y -qq --purge quillmend >/dev/null
installed=0
[ ! -e /usr/bin/quillmend-cli ] || fail "removing the package left /usr/bin/quillmend-cli"
echo "installed, run and removed again"

echo "== the Windows zip =="
source scripts/wine.sh
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || [ -z "$wine" ]; then
  echo "package-check: the Windows zip skipped, the cross compiler or wine64 is missing (CI installs both)"
  exit 0
fi
cmake --preset windows-cross >/dev/null
cmake --build --preset windows-cross -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
rm -f build/windows-cross/quillmend-*.zip
(cd build/windows-cross && cpack -G ZIP >/dev/null)
zip=$(echo "$root"/build/windows-cross/quillmend-*-windows-x64.zip)
[ -f "$zip" ] || fail "cpack made no .zip in build/windows-cross"
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$zip")
(cd "$work/zip" && find . -type f | sort)
exe=$(echo "$work"/zip/*/bin/quillmend-cli.exe)
for file in "$exe" "$work"/zip/*/README.md "$work"/zip/*/LICENSE; do
  [ -f "$file" ] || fail "the zip lacks $(basename "$file")"
done

wineserver="$(dirname "$wine")/wineserver64"
[ -x "$wineserver" ] || wineserver="$(dirname "$wine")/wineserver"
mailbox=tests/data/eudora-windows-7.1/In.mbx
(cd "$(dirname "$mailbox")" &&
  LC_ALL=C.UTF-8 WINEDEBUG=-all WINEPREFIX="$work/wine" "$wine" "$exe" list "$(basename "$mailbox")") \
  >"$work/wine.txt" 2>"$work/wine.err" || fail "quillmend-cli.exe list failed under Wine: $(cat "$work/wine.err")"
cat "$work/wine.txt"
build/release/cli/quillmend-cli list "$mailbox" >"$work/native.txt"
cmp -s "$work/wine.txt" "$work/native.txt" ||
  fail "quillmend-cli.exe under Wine lists $mailbox otherwise than the Linux build"
echo "quillmend-cli.exe from $(basename "$zip") lists $mailbox as the Linux build does"

window=$(echo "$work"/zip/*/bin/quillmend.exe)
if [ ! -f "$window" ]; then
  echo "package-check: the zip holds no window, there is no Qt for Windows here (scripts/build-qt-windows.sh)"
  exit 0
fi
bin=$(dirname "$window")
for file in help.html platforms/qwindows.dll platforms/qoffscreen.dll styles/qwindowsvistastyle.dll \
            imageformats/qjpeg.dll imageformats/qgif.dll imageformats/qico.dll; do
  [ -f "$bin/$file" ] || fail "the zip lacks bin/$file beside quillmend.exe"
done
# Every Qt DLL that a program or plugin of the zip imports is in it, and none of the compiler's
# runtime is asked for: it is linked into each.
for module in "$bin"/*.exe "$bin"/*.dll "$bin"/*/*.dll; do
  while read -r dll; do
    case "${dll,,}" in
      libstdc++* | libgcc* | libwinpthread*) fail "$(basename "$module") imports $dll, the mingw runtime" ;;
      qt6*) [ -f "$bin/$dll" ] || fail "$(basename "$module") imports $dll, which the zip lacks" ;;
    esac
  done < <(x86_64-w64-mingw32-objdump -p "$module" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
# The window as unpacked, with nothing pointing Wine elsewhere: it finds its DLLs, its platform
# plugins and its help page in the zip's own folder. Once offscreen, once with the windows plugin on
# Wine's display-less driver. Wine hands a QT_ variable on only as WINEQT_; its desktop process stays
# off, as in the tests (it would hold the output open). --version is no check here: without a
# console Qt answers it in a message box.
window_run() {  # platform
  (cd "$work" && env -u WINEPATH -u DISPLAY -u WAYLAND_DISPLAY LC_ALL=C.UTF-8 WINEDEBUG=-all WINEPREFIX="$work/wine" \
    WINEQT_QPA_PLATFORM="$1" WINEDLLOVERRIDES=explorer.exe=d timeout 120 "$wine" "$window" --self-test) 2>&1 |
    tee "$work/window-$1.txt" || true
  grep -q "window shown, help page found" "$work/window-$1.txt" ||
    fail "quillmend.exe from $(basename "$zip") did not show its window ($1) or find its help page under Wine"
}
window_run offscreen
window_run windows
echo "quillmend.exe from $(basename "$zip") runs under Wine with the Qt it ships"
