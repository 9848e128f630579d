# Lays out the ten installer files of the STAND-IN new release 2.30.111 (test support only).
# Run with -P; inputs: OUT (target folder), WORK (scratch folder), PRODUCT_EXE (the stand-in
# Tidemark.exe with FileVersion 2.30.111), UNINSTALLER_EXE, SETUP_EXE.
# Every file is deterministic: the same inputs give the same bytes.
cmake_minimum_required(VERSION 3.21)

file(MAKE_DIRECTORY ${OUT} ${WORK})

# filler(<file> <size> <tag>): a text file of exactly <size> bytes of repeated numbered lines.
function(filler path size tag)
  set(line "${tag} stand-in installer data, not a real component: 0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ\n")
  string(LENGTH "${line}" line_length)
  math(EXPR count "${size} / ${line_length} + 1")
  string(REPEAT "${line}" ${count} text)
  string(SUBSTRING "${text}" 0 ${size} text)
  file(WRITE ${path} "${text}")
endfunction()

# Files carried inside data1.cab.
set(new_log ${WORK}/Tidemark.log)
file(WRITE ${new_log}
  "2026/12/01 00:00:00 Tidemark SX 2.30.111 installed (fresh log of the new release)\r\n")
set(shell_dll ${WORK}/TidemarkShell.dll)
file(WRITE ${shell_dll} "Tidemark SX 2.30.111 shell extension (stand-in)\r\n")

# data1.cab: "TMKSTANDINCAB 1\n", then per file "FILE <name> <size> <md5>\n" + its bytes, then
# "END\n".
set(parts ${WORK}/cab-head.txt)
file(WRITE ${WORK}/cab-head.txt "TMKSTANDINCAB 1\n")
set(entries 0)
foreach(pair "Tidemark.exe=${PRODUCT_EXE}" "Tidemark.log=${new_log}"
             "TidemarkShell.dll=${shell_dll}"
             "TidemarkStandInUninstall.exe=${UNINSTALLER_EXE}")
  string(FIND "${pair}" "=" eq)
  string(SUBSTRING "${pair}" 0 ${eq} name)
  math(EXPR from "${eq} + 1")
  string(SUBSTRING "${pair}" ${from} -1 source)
  file(SIZE ${source} size)
  file(MD5 ${source} md5)
  file(WRITE ${WORK}/cab-entry-${entries}.txt "FILE ${name} ${size} ${md5}\n")
  list(APPEND parts ${WORK}/cab-entry-${entries}.txt ${source})
  math(EXPR entries "${entries} + 1")
endforeach()
file(WRITE ${WORK}/cab-tail.txt "END\n")
list(APPEND parts ${WORK}/cab-tail.txt)
execute_process(COMMAND ${CMAKE_COMMAND} -E cat ${parts} OUTPUT_FILE ${OUT}/data1.cab
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot write ${OUT}/data1.cab")
endif()
file(SIZE ${OUT}/data1.cab cab_size)
file(WRITE ${OUT}/data1.hdr "[Cabinet]\r\nFile=data1.cab\r\nEntries=${entries}\r\nSize=${cab_size}\r\n")

# Other installer files: deterministic data of different sizes. data2.cab is larger than three
# 102,400-byte blocks and not a multiple of them; ISSetup.dll is one byte over one block;
# layout.bin is tiny.
filler(${OUT}/data2.cab 307213 "data2.cab")
filler(${OUT}/ISSetup.dll 102401 "ISSetup.dll")
filler(${OUT}/_Setup.dll 65537 "_Setup.dll")
filler(${OUT}/Setup.bmp 24118 "Setup.bmp")
file(WRITE ${OUT}/layout.bin "LAYOUT 1\n")

# Default per-user settings of the new release (some differ from the old release's values).
file(WRITE ${OUT}/setup.inx
  "; Tidemark SX 2.30.111 per-user defaults: type|sub-key|name|data\r\n"
  "sz||Language|ja\r\n"
  "dword||Interval|60\r\n"
  "dword||SchemaVersion|230\r\n"
  "dword||ShowTips|1\r\n"
  "expand||DataFolder|%USERPROFILE%\\Tidemark SX\r\n"
  "dword|Alarms|Count|0\r\n"
  "sz|Alarms|Sound|default.wav\r\n")

file(COPY_FILE ${SETUP_EXE} ${OUT}/setup.exe)

# setup.ini: product data and the size of every other installer file, checked by setup.exe.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/PayloadFiles.cmake)
set(ini "[Startup]\r\nProduct=Tidemark SX\r\nProductVersion=2.30.111\r\n[Files]\r\n")
set(listed ${UPDATER_PAYLOAD_FILES})
list(REMOVE_ITEM listed setup.exe setup.ini)
foreach(f ${listed})
  file(SIZE ${OUT}/${f} size)
  string(APPEND ini "${f}=${size}\r\n")
endforeach()
file(WRITE ${OUT}/setup.ini "${ini}")
