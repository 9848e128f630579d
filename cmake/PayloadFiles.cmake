# The ten setup files the updater carries, read from the one table in engine/core/payload_files.h:
#   UPDATER_PAYLOAD_FILES         the file names, in the order of extraction
#   UPDATER_PAYLOAD_RESOURCE_IDS  the number of the "ZELNA" resource of each, in the same order
# updater_payload_sizes(<var> <size>...): "<name>=<size>" for each file in table order, as the
# sample-file writer takes them.
include_guard(GLOBAL)

set(UPDATER_PAYLOAD_HEADER ${CMAKE_CURRENT_LIST_DIR}/../engine/core/payload_files.h)
file(READ ${UPDATER_PAYLOAD_HEADER} payload_header)
string(REGEX MATCHALL "{\"[^\"]+\", *[0-9]+}" payload_entries "${payload_header}")
set(UPDATER_PAYLOAD_FILES "")
set(UPDATER_PAYLOAD_RESOURCE_IDS "")
foreach(entry ${payload_entries})
  string(REGEX REPLACE "^{\"([^\"]+)\", *([0-9]+)}$" "\\1" name "${entry}")
  string(REGEX REPLACE "^{\"([^\"]+)\", *([0-9]+)}$" "\\2" id "${entry}")
  list(APPEND UPDATER_PAYLOAD_FILES ${name})
  list(APPEND UPDATER_PAYLOAD_RESOURCE_IDS ${id})
endforeach()
list(LENGTH UPDATER_PAYLOAD_FILES payload_count)
if(NOT payload_count EQUAL 10)
  message(FATAL_ERROR "${UPDATER_PAYLOAD_HEADER}: ${payload_count} payload files read, not ten")
endif()
# The table's header is an input of the configuration: a change to it configures again.
if(NOT CMAKE_SCRIPT_MODE_FILE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${UPDATER_PAYLOAD_HEADER})
endif()

function(updater_payload_sizes var)
  set(pairs "")
  foreach(name ${UPDATER_PAYLOAD_FILES})
    list(POP_FRONT ARGN size)
    list(APPEND pairs "${name}=${size}")
  endforeach()
  set(${var} ${pairs} PARENT_SCOPE)
endfunction()
