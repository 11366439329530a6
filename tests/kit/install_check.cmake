# cmake -DBUILD=DIR -DSOURCE=DIR -DPREFIX=DIR -DSAMPLES=A,B,... -DMAKENSIS=PROGRAM -P install_check.cmake
#
# Installs the kit from the build tree DIR into PREFIX and checks that it
# holds every piece and the SAMPLES (paths below samples/) and nothing
# else: nothing of the build or the tests, nor whatever else lies in the
# source tree's samples/; that no file carries the path of the build or the
# source tree; and that the NSIS sample builds from the installed kit as it
# stands.
cmake_minimum_required(VERSION 3.20)
file(REMOVE_RECURSE "${PREFIX}")
# An installer built in samples/nsis as docs/kit.md says, and a capture
# left among the machines, lie there meanwhile, unless they already do.
set(planted)
foreach(stray samples/nsis/KXVozaDa-sample.exe samples/machines/left-by-kit_install.txt)
  if(NOT EXISTS "${SOURCE}/${stray}")
    file(WRITE "${SOURCE}/${stray}" "not part of the kit\n")
    list(APPEND planted "${SOURCE}/${stray}")
  endif()
endforeach()
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(planted)
  file(REMOVE ${planted})
endif()
if(status)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

set(expected
  CALLING.txt bin/KXVozaDa.dll bin/kxcapture.exe bin/kxprobe.exe include/KXVozaDa.h
  lib/KXVozaDa.def lib/KXVozaDa.lib lib/libKXVozaDa.a)
string(REPLACE "," ";" SAMPLES "${SAMPLES}")
foreach(sample IN LISTS SAMPLES)
  list(APPEND expected samples/${sample})
endforeach()
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
foreach(file IN LISTS expected)
  if(NOT file IN_LIST installed)
    message(SEND_ERROR "missing from the kit: ${file}")
  endif()
endforeach()
foreach(file IN LISTS installed)
  if(NOT file IN_LIST expected)
    message(SEND_ERROR "not part of the kit: ${file}")
  endif()
endforeach()
# The same bytes wherever the kit is built: no file names the build's or
# the source's folder, as written or as dlltool spells a file in a symbol
# (every character but letters and digits an underscore). A path of fewer
# than 8 characters could not be told from the files' own text.
set(texts)
foreach(folder "${BUILD}" "${SOURCE}")
  string(REGEX REPLACE "[^A-Za-z0-9]" "_" symbol "${folder}")
  string(LENGTH "${folder}" length)
  if(length GREATER_EQUAL 8)
    list(APPEND texts "${folder}" "${symbol}")
  endif()
endforeach()
foreach(file IN LISTS installed)
  file(READ "${PREFIX}/${file}" bytes HEX)
  foreach(text IN LISTS texts)
    string(HEX "${text}" text_hex)
    string(FIND "${bytes}" "${text_hex}" at)
    if(at GREATER_EQUAL 0)
      message(SEND_ERROR "${file} holds \"${text}\", where it was built")
    endif()
  endforeach()
endforeach()
list(FIND installed samples/machines/win98-pc.reg sample_machine)
if(sample_machine LESS 0)
  message(SEND_ERROR "missing from the kit: the sample machine profiles")
endif()
# As the README has it: from the kit's root, naming the script by a relative
# path, and again by its whole path from elsewhere.
execute_process(COMMAND "${MAKENSIS}" -V2 samples/nsis/KXVozaDa.nsi WORKING_DIRECTORY "${PREFIX}"
                RESULT_VARIABLE status)
if(status OR NOT EXISTS "${PREFIX}/samples/nsis/KXVozaDa-sample.exe")
  message(SEND_ERROR "the NSIS sample does not build from the kit's root")
endif()
file(REMOVE "${PREFIX}/samples/nsis/KXVozaDa-sample.exe")
execute_process(COMMAND "${MAKENSIS}" -V2 -DOUTFILE=${PREFIX}/sample.exe "${PREFIX}/samples/nsis/KXVozaDa.nsi"
                RESULT_VARIABLE status)
if(status OR NOT EXISTS "${PREFIX}/sample.exe")
  message(SEND_ERROR "the NSIS sample does not build from the installed kit")
endif()
message(STATUS "kit laid out in ${PREFIX}: ${installed}")
