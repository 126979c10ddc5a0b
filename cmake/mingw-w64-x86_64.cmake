# Cross-compiles for 64-bit Windows with mingw-w64 (the POSIX thread model, which std::thread needs).
# Programs are linked statically, so a test binary runs under Wine with nothing else to ship.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLMEND_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLMEND_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLMEND_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLMEND_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLMEND_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The window needs a Qt built for Windows, which Debian does not package: scripts/build-qt-windows.sh
# builds one into a cache outside the clone. QUILLMEND_WINDOWS_QT names its folder (from -D or the
# environment; an empty value leaves the window out), else that script's cache is used when it is
# there. Without it the build is the core, the command-line tool and their tests.
if(NOT DEFINED QUILLMEND_WINDOWS_QT)
  if(DEFINED ENV{QUILLMEND_WINDOWS_QT})
    set(QUILLMEND_WINDOWS_QT "$ENV{QUILLMEND_WINDOWS_QT}")
  else()
    execute_process(COMMAND "${CMAKE_CURRENT_LIST_DIR}/../scripts/build-qt-windows.sh" --path
                    OUTPUT_VARIABLE QUILLMEND_WINDOWS_QT OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
set(QUILLMEND_WINDOWS_QT_FOUND OFF)
if(QUILLMEND_WINDOWS_QT AND EXISTS "${QUILLMEND_WINDOWS_QT}/lib/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake")
  set(QUILLMEND_WINDOWS_QT_FOUND ON)
  list(APPEND CMAKE_FIND_ROOT_PATH "${QUILLMEND_WINDOWS_QT}")
  list(APPEND CMAKE_PREFIX_PATH "${QUILLMEND_WINDOWS_QT}")
  # moc, rcc and uic are the host's, of the same Qt version (qt6-base-dev-tools).
  set(QT_HOST_PATH /usr)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu/cmake)
endif()
# The window is built exactly when that Qt is there, whatever an older configuration left cached.
set(QUILLMEND_GUI ${QUILLMEND_WINDOWS_QT_FOUND} CACHE BOOL "Build the Qt window (here: when a Qt for Windows is found)" FORCE)

# ctest and gtest_discover_tests run the test programs through Wine, quietly (WINEDEBUG=-all) and
# in the prefix named by WINEPREFIX, or else in the build tree's own, so ~/.wine is never touched.
# The window's programs find Qt's DLLs through WINEPATH (Wine's drive Z: is the root). Wine hands
# no QT_ variable to a Windows program, only its copy named WINEQT_: the test's QT_QPA_PLATFORM goes
# on that way, and the offscreen platform, which reads font files from one folder on Windows, gets
# Wine's own fonts (a new Wine prefix has none in its Fonts folder). Wine's desktop process, which
# the first window would start, stays off: offscreen needs none, and it would hold the test's output
# open for the seconds it lingers, which ctest waits out.
find_program(QUILLMEND_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QUILLMEND_WINE)
  set(quillmend_qt_env "")
  if(QUILLMEND_WINDOWS_QT_FOUND)
    string(CONCAT quillmend_qt_env "WINEPATH='Z:${QUILLMEND_WINDOWS_QT}/bin' "
           "WINEQT_PLUGIN_PATH='Z:${QUILLMEND_WINDOWS_QT}/plugins' WINEQT_QPA_PLATFORM=\"\$QT_QPA_PLATFORM\" "
           "WINEDLLOVERRIDES=\"\${WINEDLLOVERRIDES:-explorer.exe=d}\" ")
    find_path(QUILLMEND_WINE_FONTS tahoma.ttf PATHS /usr/share/wine/fonts /usr/local/share/wine/fonts
              /opt/wine-stable/share/wine/fonts NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(QUILLMEND_WINE_FONTS)
      string(APPEND quillmend_qt_env "WINEQT_QPA_FONTDIR=\"\${QT_QPA_FONTDIR:-Z:${QUILLMEND_WINE_FONTS}}\" ")
    endif()
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh -c
      "WINEDEBUG=-all ${quillmend_qt_env}WINEPREFIX=\"\${WINEPREFIX:-${CMAKE_BINARY_DIR}/wineprefix}\" exec '${QUILLMEND_WINE}' \"\$@\""
      wine)
endif()
