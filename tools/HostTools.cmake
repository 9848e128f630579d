# Programs of the build itself. They run on the build machine, so they are compiled with the
# machine's own C++ compiler, not the cross compiler the rest of the tree uses. pack_payload shares
# the key stream with the updater (engine/core/key_stream.cpp), so packing and unpacking cannot drift.
# The tools' paths are set in every including directory; the rules that build them only once.
set(UPDATER_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-tools)
set(UPDATER_PACK_PAYLOAD ${UPDATER_HOST_TOOLS_DIR}/pack_payload)
set(UPDATER_MAKE_SAMPLE_FILES ${UPDATER_HOST_TOOLS_DIR}/make_sample_files)
set(UPDATER_INSPECT ${UPDATER_HOST_TOOLS_DIR}/inspect_updater)
set(UPDATER_PLAN_TESTS ${UPDATER_HOST_TOOLS_DIR}/plan_tests)
include_guard(GLOBAL)

find_program(UPDATER_HOST_CXX NAMES c++ g++ clang++ NO_CMAKE_FIND_ROOT_PATH
             DOC "Compiler for the build machine's own tools (payload packing)")
if(NOT UPDATER_HOST_CXX)
  message(FATAL_ERROR "No C++ compiler for the build machine found (c++, g++ or clang++): "
                      "the payload packing step needs one. Set UPDATER_HOST_CXX.")
endif()

# updater_host_tool(<target> <output> <comment> SOURCES <.cpp ...> HEADERS <.h ...> [ALL]):
# compiles the sources into <output> with the build machine's compiler; <target> builds it.
function(updater_host_tool target output comment)
  cmake_parse_arguments(T "ALL" "" "SOURCES;HEADERS" ${ARGN})
  list(TRANSFORM T_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)
  list(TRANSFORM T_HEADERS PREPEND ${CMAKE_SOURCE_DIR}/)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${UPDATER_HOST_TOOLS_DIR}
    COMMAND ${UPDATER_HOST_CXX} -std=c++17 -O2 -Wall -Wextra -I${CMAKE_SOURCE_DIR} -o ${output}
            ${T_SOURCES}
    DEPENDS ${T_SOURCES} ${T_HEADERS}
    COMMENT "${comment}"
    VERBATIM)
  if(T_ALL)
    add_custom_target(${target} ALL DEPENDS ${output})
  else()
    add_custom_target(${target} DEPENDS ${output})
  endif()
endfunction()

updater_host_tool(host_pack_payload ${UPDATER_PACK_PAYLOAD}
  "Building the payload packer for the build machine"
  SOURCES tools/pack_payload.cpp engine/core/key_stream.cpp
  HEADERS engine/core/key_stream.h engine/core/payload_files.h)
updater_host_tool(host_make_sample_files ${UPDATER_MAKE_SAMPLE_FILES}
  "Building the sample-file writer for the build machine"
  SOURCES tools/make_sample_files.cpp)
# The release engineer's inspection of a built Updater.exe (runs on the build machine).
updater_host_tool(host_inspect_updater ${UPDATER_INSPECT}
  "Building the updater inspection tool for the build machine" ALL
  SOURCES tools/inspect_updater.cpp tools/sha256.cpp tools/signer.cpp engine/core/key_stream.cpp
  HEADERS tools/sha256.h tools/signer.h engine/core/key_stream.h engine/core/payload_files.h)

# The decisions of engine/plan, tested natively on the build machine (a plain folder: no
# windows.h), as tables of readings and the plans they give.
find_library(UPDATER_HOST_GTEST NAMES libgtest.a gtest NO_CMAKE_FIND_ROOT_PATH
             PATHS /usr/lib/x86_64-linux-gnu /usr/lib)
find_library(UPDATER_HOST_GTEST_MAIN NAMES libgtest_main.a gtest_main NO_CMAKE_FIND_ROOT_PATH
             PATHS /usr/lib/x86_64-linux-gnu /usr/lib)
if(UPDATER_HOST_GTEST AND UPDATER_HOST_GTEST_MAIN)
  file(GLOB UPDATER_PLAN_SOURCES RELATIVE ${CMAKE_SOURCE_DIR} CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/engine/plan/*.cpp)
  file(GLOB UPDATER_PLAN_HEADERS RELATIVE ${CMAKE_SOURCE_DIR} CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/engine/plan/*.h)
  list(TRANSFORM UPDATER_PLAN_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)
  add_custom_command(
    OUTPUT ${UPDATER_PLAN_TESTS}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${UPDATER_HOST_TOOLS_DIR}
    COMMAND ${UPDATER_HOST_CXX} -std=c++17 -O1 -Wall -Wextra -I${CMAKE_SOURCE_DIR}
            -I/usr/include -o ${UPDATER_PLAN_TESTS} ${UPDATER_PLAN_SOURCES}
            ${CMAKE_SOURCE_DIR}/tests/native/host_heap.cpp ${UPDATER_HOST_GTEST_MAIN}
            ${UPDATER_HOST_GTEST} -lpthread
    DEPENDS ${UPDATER_PLAN_SOURCES} ${CMAKE_SOURCE_DIR}/tests/native/host_heap.cpp
            ${CMAKE_SOURCE_DIR}/base/heap_text.h
    COMMENT "Building the plan's tests for the build machine"
    VERBATIM)
  add_custom_target(host_plan_tests ALL DEPENDS ${UPDATER_PLAN_TESTS})
endif()
