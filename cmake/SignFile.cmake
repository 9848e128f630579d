# Signs one file with the signing program (cmake -DPROGRAM=<program> -DFILE=<file> -P SignFile.cmake).
# When the program fails, the file is deleted, so that no build can leave behind an unsigned
# program in the place of a signed one.
execute_process(COMMAND ${PROGRAM} ${FILE} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${FILE})
  message(FATAL_ERROR "Signing ${FILE} with ${PROGRAM} failed (${result}); the unsigned file was "
                      "deleted so that it cannot be shipped.")
endif()
