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

# ctest and gtest_discover_tests run the test programs through Wine, quietly (WINEDEBUG=-all) and
# in the prefix named by WINEPREFIX, or else in the build tree's own, so ~/.wine is never touched.
find_program(QUILLMEND_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QUILLMEND_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh -c
      "WINEDEBUG=-all WINEPREFIX=\"\${WINEPREFIX:-${CMAKE_BINARY_DIR}/wineprefix}\" exec '${QUILLMEND_WINE}' \"\$@\""
      wine)
endif()
