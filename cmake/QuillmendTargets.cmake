# One way to set up every target of the project: the standard, the include folders, the warnings.

# Warnings are set per target so that third-party code keeps its own flags.
function(quillmend_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  endif()
endfunction()

# quillmend_library(NAME [SOURCES ...] [POSIX ...] [WIN32 ...] [LINK ...]): the static library
# quillmend_NAME, its headers included from the project's root ("NAME/file.h"). POSIX and WIN32 list
# the halves of its platform code, of which only this platform's is built.
function(quillmend_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;POSIX;WIN32;LINK" ${ARGN})
  set(sources ${ARG_SOURCES})
  if(WIN32)
    list(APPEND sources ${ARG_WIN32})
  else()
    list(APPEND sources ${ARG_POSIX})
  endif()
  add_library(quillmend_${name} STATIC ${sources})
  target_include_directories(quillmend_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_features(quillmend_${name} PUBLIC cxx_std_20)
  target_link_libraries(quillmend_${name} PUBLIC ${ARG_LINK})
  quillmend_warnings(quillmend_${name})
endfunction()

# quillmend_test(NAME SOURCES ... [LINK ...] [OWN_MAIN] [PROPERTIES ...]): the GoogleTest program
# NAME_tests of one folder of tests/, its tests named "NAME.Suite.Test" for ctest. OWN_MAIN for a
# program with a main() of its own; PROPERTIES go to every test.
function(quillmend_test name)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "SOURCES;LINK;PROPERTIES" ${ARGN})
  add_executable(${name}_tests ${ARG_SOURCES})
  if(ARG_OWN_MAIN)
    target_link_libraries(${name}_tests PRIVATE ${ARG_LINK} quillmend_test_support GTest::gtest)
  else()
    target_link_libraries(${name}_tests PRIVATE ${ARG_LINK} quillmend_test_support GTest::gtest_main)
  endif()
  quillmend_warnings(${name}_tests)
  gtest_discover_tests(${name}_tests TEST_PREFIX "${name}." DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120 ${ARG_PROPERTIES})
endfunction()
