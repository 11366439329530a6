# cmake -DIN=exports/KXVozaDa.def -DOUT=KXVozaDa.def -P def.cmake
#
# Writes the definition file of the import libraries from the DLL's own: each
# export under its stdcall-decorated name (IsWin95@0), with its ordinal.
# dlltool --kill-at then gives callers the decorated symbols (_IsWin95@0,
# __imp__IsWin95@0), which is what C compilers emit for a WINAPI prototype,
# while the program imports the plain name that the DLL exports.
file(STRINGS "${IN}" lines)
set(library)
set(exports)
foreach(line IN LISTS lines)
  if(line MATCHES "^LIBRARY[ \t]+(.*)$")
    set(library "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^[ \t]*([A-Za-z_][A-Za-z0-9_]*)[ \t]*=[ \t]*([A-Za-z_][A-Za-z0-9_]*)@([0-9]+)[ \t]+@([0-9]+)")
    if(NOT CMAKE_MATCH_1 STREQUAL CMAKE_MATCH_2)
      message(FATAL_ERROR "${IN}: ${CMAKE_MATCH_1} is exported from ${CMAKE_MATCH_2}@${CMAKE_MATCH_3}")
    endif()
    list(APPEND exports "    ${CMAKE_MATCH_1}@${CMAKE_MATCH_3} @${CMAKE_MATCH_4}")
  endif()
endforeach()
if(NOT library OR NOT exports)
  message(FATAL_ERROR "${IN}: no LIBRARY line or no exports")
endif()
list(SORT exports)
list(JOIN exports "\n" exports)
file(WRITE "${OUT}" "LIBRARY ${library}\nEXPORTS\n${exports}\n")
