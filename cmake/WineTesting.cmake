# Test executables are Windows programs. In a cross build CTest runs them under Wine, through the
# emulator script, inside one Wine session (Xvfb display + persistent wineserver) that the fixture
# tests below start before the first test and stop after the last.
option(UPDATER_BUILD_TESTS "Build the test suite" ON)

if(UPDATER_BUILD_TESTS)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree to compile with the cross compiler")
  add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

set(WINE_HARNESS_DIR ${CMAKE_SOURCE_DIR}/tests/harness)
if(CMAKE_CROSSCOMPILING)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_HARNESS_DIR}/wine-run.sh ${CMAKE_BINARY_DIR})
endif()

# updater_add_test(<name> <target> [ARGS ...]): one CTest test that runs a whole test executable.
function(updater_add_test name target)
  cmake_parse_arguments(T "" "TIMEOUT" "ARGS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${target} ${T_ARGS})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} RUN_SERIAL TRUE)
  if(CMAKE_CROSSCOMPILING)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_session)
  endif()
endfunction()

# updater_add_script_test(<name> <script> [args...]): a Linux-side test step (bash) that works
# inside the same Wine session, for what only the Linux side can do (planting symbolic links).
function(updater_add_script_test name script)
  add_test(NAME ${name} COMMAND bash ${script} ${CMAKE_BINARY_DIR} ${ARGN})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE FIXTURES_REQUIRED wine_session)
endfunction()

# Which Wine runs this tree's programs (read by the harness scripts).
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    file(WRITE ${CMAKE_BINARY_DIR}/wine-arch "win64\n")
  else()
    file(WRITE ${CMAKE_BINARY_DIR}/wine-arch "win32\n")
  endif()
endif()
