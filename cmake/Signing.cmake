# Signing in the build. UPDATER_SIGN_SCRIPT names a program that signs, in place, the Windows
# executable whose path it is given: scripts/sign-osslsigncode.sh for a certificate file, or a
# vendor's own for a hardware token or a signing service. When it is set, the launcher is signed
# before it is embedded and Updater.exe after it is linked; when it is empty, nothing is signed.
include_guard(GLOBAL)

set(UPDATER_SIGN_SCRIPT "" CACHE FILEPATH
    "Program that signs, in place, the Windows executable whose path it is given (empty: no signing)")
if(UPDATER_SIGN_SCRIPT)
  get_filename_component(UPDATER_SIGN_SCRIPT_PATH "${UPDATER_SIGN_SCRIPT}" ABSOLUTE
                         BASE_DIR ${CMAKE_BINARY_DIR})
  if(NOT EXISTS "${UPDATER_SIGN_SCRIPT_PATH}")
    message(FATAL_ERROR "UPDATER_SIGN_SCRIPT: no such program: ${UPDATER_SIGN_SCRIPT_PATH}")
  endif()
endif()

# updater_sign_command(<var> <file> [SCRIPT <program>] [ENV <name=value>...]): the command that
# signs <file> with <program> (default UPDATER_SIGN_SCRIPT), for add_custom_command. A failed
# signing deletes the file: a post-build step that fails leaves its target's output in place, and
# the next build would take the unsigned program for finished.
function(updater_sign_command var file)
  cmake_parse_arguments(S "" "SCRIPT" "ENV" ${ARGN})
  if(NOT S_SCRIPT)
    set(S_SCRIPT ${UPDATER_SIGN_SCRIPT_PATH})
  endif()
  set(${var} ${CMAKE_COMMAND} -E env ${S_ENV}
      ${CMAKE_COMMAND} -DPROGRAM=${S_SCRIPT} -DFILE=${file} -P ${UPDATER_SIGN_FILE_SCRIPT}
      PARENT_SCOPE)
endfunction()
set(UPDATER_SIGN_FILE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/SignFile.cmake)

# What the build signs with. A change of it relinks the signed programs: a post-build step runs only
# after a link, and a tree configured again with signing on (or off) must not keep programs signed
# the other way.
set(UPDATER_SIGN_STAMP ${CMAKE_BINARY_DIR}/signing.txt)
file(CONFIGURE OUTPUT ${UPDATER_SIGN_STAMP} CONTENT "${UPDATER_SIGN_SCRIPT_PATH}\n" @ONLY)

# updater_sign_after_build(<target>): signs the target's file after each link, when signing is on.
function(updater_sign_after_build target)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${UPDATER_SIGN_STAMP})
  if(NOT UPDATER_SIGN_SCRIPT)
    return()
  endif()
  updater_sign_command(command $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD COMMAND ${command}
                     COMMENT "Signing ${target}" VERBATIM)
endfunction()
