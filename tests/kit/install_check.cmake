# cmake -DBUILD=DIR -DPREFIX=DIR -DMAKENSIS=PROGRAM -P install_check.cmake
#
# Installs the kit from the build tree DIR into PREFIX and checks that every
# piece is there, that nothing of the build or the tests came along, and
# that the NSIS sample builds from the installed kit as it stands.
cmake_minimum_required(VERSION 3.20)
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(status)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

set(expected
  CALLING.txt bin/KXVozaDa.dll bin/kxcapture.exe bin/kxprobe.exe include/KXVozaDa.h
  lib/KXVozaDa.def lib/KXVozaDa.lib lib/libKXVozaDa.a samples/nsis/KXVozaDa.nsi)
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
foreach(file IN LISTS expected)
  if(NOT file IN_LIST installed)
    message(SEND_ERROR "missing from the kit: ${file}")
  endif()
endforeach()
foreach(file IN LISTS installed)
  if(NOT file IN_LIST expected AND NOT file MATCHES "^samples/([A-Za-z]+\\.def|machines/([^/]+\\.reg|baseline\\.json))$")
    message(SEND_ERROR "not part of the kit: ${file}")
  endif()
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
