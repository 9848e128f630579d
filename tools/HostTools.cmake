# Programs of the build itself. They run on the build machine, so they are compiled with the
# machine's own C++ compiler, not the cross compiler the rest of the tree uses. pack_payload shares
# the key stream with the updater (engine/key_stream.cpp), so packing and unpacking cannot drift.
# The tools' paths are set in every including directory; the rules that build them only once.
set(UPDATER_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-tools)
set(UPDATER_PACK_PAYLOAD ${UPDATER_HOST_TOOLS_DIR}/pack_payload)
set(UPDATER_MAKE_SAMPLE_FILES ${UPDATER_HOST_TOOLS_DIR}/make_sample_files)
set(UPDATER_INSPECT ${UPDATER_HOST_TOOLS_DIR}/inspect_updater)
include_guard(GLOBAL)

find_program(UPDATER_HOST_CXX NAMES c++ g++ clang++ NO_CMAKE_FIND_ROOT_PATH
             DOC "Compiler for the build machine's own tools (payload packing)")
if(NOT UPDATER_HOST_CXX)
  message(FATAL_ERROR "No C++ compiler for the build machine found (c++, g++ or clang++): "
                      "the payload packing step needs one. Set UPDATER_HOST_CXX.")
endif()

add_custom_command(
  OUTPUT ${UPDATER_PACK_PAYLOAD}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${UPDATER_HOST_TOOLS_DIR}
  COMMAND ${UPDATER_HOST_CXX} -std=c++17 -O2 -Wall -Wextra -I${CMAKE_SOURCE_DIR}
          -o ${UPDATER_PACK_PAYLOAD}
          ${CMAKE_SOURCE_DIR}/tools/pack_payload.cpp ${CMAKE_SOURCE_DIR}/engine/key_stream.cpp
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/pack_payload.cpp ${CMAKE_SOURCE_DIR}/engine/key_stream.cpp
          ${CMAKE_SOURCE_DIR}/engine/key_stream.h
  COMMENT "Building the payload packer for the build machine"
  VERBATIM)
add_custom_target(host_pack_payload DEPENDS ${UPDATER_PACK_PAYLOAD})

add_custom_command(
  OUTPUT ${UPDATER_MAKE_SAMPLE_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${UPDATER_HOST_TOOLS_DIR}
  COMMAND ${UPDATER_HOST_CXX} -std=c++17 -O2 -Wall -Wextra
          -o ${UPDATER_MAKE_SAMPLE_FILES} ${CMAKE_SOURCE_DIR}/tools/make_sample_files.cpp
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/make_sample_files.cpp
  COMMENT "Building the sample-file writer for the build machine"
  VERBATIM)
add_custom_target(host_make_sample_files DEPENDS ${UPDATER_MAKE_SAMPLE_FILES})

# The release engineer's inspection of a built Updater.exe (runs on the build machine).
add_custom_command(
  OUTPUT ${UPDATER_INSPECT}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${UPDATER_HOST_TOOLS_DIR}
  COMMAND ${UPDATER_HOST_CXX} -std=c++17 -O2 -Wall -Wextra -I${CMAKE_SOURCE_DIR}
          -o ${UPDATER_INSPECT} ${CMAKE_SOURCE_DIR}/tools/inspect_updater.cpp
          ${CMAKE_SOURCE_DIR}/tools/sha256.cpp ${CMAKE_SOURCE_DIR}/engine/key_stream.cpp
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/inspect_updater.cpp ${CMAKE_SOURCE_DIR}/tools/sha256.cpp
          ${CMAKE_SOURCE_DIR}/tools/sha256.h ${CMAKE_SOURCE_DIR}/engine/key_stream.cpp
          ${CMAKE_SOURCE_DIR}/engine/key_stream.h
  COMMENT "Building the updater inspection tool for the build machine"
  VERBATIM)
add_custom_target(host_inspect_updater ALL DEPENDS ${UPDATER_INSPECT})
