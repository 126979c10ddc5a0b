#!/usr/bin/env bash
# Cross-builds the core, quillmend-cli and the core's tests for 64-bit Windows (preset windows-cross)
# and runs the tests under Wine in a private prefix that is removed afterwards, those of the code
# page again under a Polish and a Russian locale (code pages 1250 and 1251). Without the cross
# compiler or Wine it says so and succeeds: CI installs both (QUILLMEND_EXTRA_PACKAGES in .ci/run).
# With a Qt for Windows (scripts/build-qt-windows.sh, or QUILLMEND_WINDOWS_QT naming one) the window
# and its tests are built and run too, offscreen; without one they are left out, as it says.
set -euo pipefail
cd "$(dirname "$0")/.."

compiler=x86_64-w64-mingw32-g++-posix
source scripts/wine.sh
if ! command -v "$compiler" >/dev/null || [ -z "$wine" ]; then
  echo "test-windows: skipped, $compiler or wine64 is missing (Debian: g++-mingw-w64-x86-64-posix wine64)"
  exit 0
fi
wineserver="$(dirname "$wine")/wineserver64"
[ -x "$wineserver" ] || wineserver="$(dirname "$wine")/wineserver"

# Building Qt takes a quarter of an hour and more: this never starts it, and uses only a finished one.
export QUILLMEND_WINDOWS_QT=${QUILLMEND_WINDOWS_QT-$(scripts/build-qt-windows.sh --path 2>/dev/null || true)}
if [ -n "$QUILLMEND_WINDOWS_QT" ] && [ -f "$QUILLMEND_WINDOWS_QT/lib/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake" ]; then
  window="the window's tests too, with Qt from $QUILLMEND_WINDOWS_QT"
else
  window="the window left out: no Qt for Windows (scripts/build-qt-windows.sh builds it)"
fi
echo "test-windows: $window"

jobs=$(nproc 2>/dev/null || echo 2)
start=$SECONDS
cmake --preset windows-cross >/dev/null
cmake --build --preset windows-cross -j "$jobs"
built=$SECONDS

# Wine takes its code page from the locale: C.UTF-8 gives an English system (code page 1252) and
# UTF-8 file names on the Linux side, whatever the machine is set to.
export LC_ALL=C.UTF-8 WINEDEBUG=-all QUILLMEND_EXPECT_ACP=1252
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/quillmend-wine.XXXXXX")
export WINEPREFIX
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# The prefix is created once, and its server kept up for the whole run: every test starts a process.
"$wineserver" -p
"$wine" wineboot --init >/dev/null 2>&1
booted=$SECONDS

status=0
summary=""
run() {  # code page, command
  local log="$WINEPREFIX/ctest-$1.log"
  "${@:2}" 2>&1 | tee "$log" || status=$?
  summary+="code page $1: $(grep -E "tests passed|tests failed" "$log" || echo "ctest gave no summary")"$'\n'
}
# Wine now and then fails to start a test program on a busy machine (the test ends at once, with no
# output): a test that fails gets one more run, so only one that fails twice fails the suite.
retry=(--repeat until-pass:2)
run 1252 ctest --preset windows-cross -j "$jobs" "${retry[@]}"
# The mail code page's tests once more on a Central European (1250) and a Cyrillic (1251) system.
# Their locales are built into the prefix, leaving the machine's own as they are.
mkdir "$WINEPREFIX/locales"
for locale in pl_PL:1250 ru_RU:1251; do
  name=${locale%:*} codepage=${locale#*:}
  if ! localedef -c -i "$name" -f UTF-8 "$WINEPREFIX/locales/$name.UTF-8" >/dev/null 2>&1; then
    summary+="code page $codepage: skipped, localedef cannot build $name.UTF-8 (Debian: locales)"$'\n'
    continue
  fi
  run "$codepage" env LOCPATH="$WINEPREFIX/locales" LC_ALL="$name.UTF-8" QUILLMEND_EXPECT_ACP="$codepage" \
    ctest --preset windows-cross -j "$jobs" -R CodePage "${retry[@]}"
done
finished=$SECONDS

echo
echo "== Windows (mingw-w64, Wine $("$wine" --version 2>/dev/null || echo '?')) =="
echo "$window"
printf '%s' "$summary"
echo "build $((built - start)) s, Wine prefix $((booted - built)) s, tests $((finished - booted)) s"
if [ "$status" -ne 0 ]; then
  echo "test-windows: FAILED"
fi
exit "$status"
