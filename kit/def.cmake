# cmake -DIN=exports/KXVozaDa.def -DOUT=KXVozaDa.def -P def.cmake
#
# Writes the definition file of the import libraries from the DLL's own: each
# export under its stdcall-decorated name (IsWin95@0), with its ordinal.
# dlltool --kill-at then gives callers the decorated symbols (_IsWin95@0,
# __imp__IsWin95@0), which is what C compilers emit for a WINAPI prototype,
# while the program imports the plain name that the DLL exports.
include(${CMAKE_CURRENT_LIST_DIR}/exports.cmake)
kx_read_def("${IN}")
set(exports)
foreach(name bytes ordinal IN ZIP_LISTS KX_DEF_NAMES KX_DEF_BYTES KX_DEF_ORDINALS)
  list(APPEND exports "    ${name}@${bytes} @${ordinal}")
endforeach()
list(SORT exports)
list(JOIN exports "\n" exports)
file(WRITE "${OUT}" "LIBRARY ${KX_DEF_LIBRARY}\nEXPORTS\n${exports}\n")
