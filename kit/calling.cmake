# cmake -DDEF=exports/KXVozaDa.def -DHEADER=include/KXVozaDa.h
#       -DTEMPLATE=CALLING.txt.in -DOUT=CALLING.txt -P calling.cmake
#
# Writes the kit's CALLING.txt: the calling convention as the header's
# opening comment states it, and the table of exports as the definition
# file lists them, so that neither is written twice.
include(${CMAKE_CURRENT_LIST_DIR}/exports.cmake)
kx_read_def("${DEF}")

function(pad text width out)
  string(LENGTH "${text}" length)
  set(spaces)
  if(length LESS width)
    math(EXPR missing "${width} - ${length}")
    string(REPEAT " " ${missing} spaces)
  endif()
  set(${out} "${text}${spaces}" PARENT_SCOPE)
endfunction()

# Each column is as wide as its longest entry or heading and two blanks, so
# that no name runs into the ordinal after it.
set(name_width 6)
foreach(name IN LISTS KX_DEF_NAMES)
  string(LENGTH "${name}" length)
  if(length GREATER name_width)
    set(name_width ${length})
  endif()
endforeach()
math(EXPR ordinal_at "2 + ${name_width} + 2")
math(EXPR bytes_at "${ordinal_at} + 9")
math(EXPR decorated_at "${bytes_at} + 16")
function(table_row name ordinal bytes decorated out)
  pad("  ${name}" ${ordinal_at} row)
  pad("${row}${ordinal}" ${bytes_at} row)
  pad("${row}${bytes}" ${decorated_at} row)
  set(${out} "${row}${decorated}\n" PARENT_SCOPE)
endfunction()
table_row(Export Ordinal "Argument bytes" "Decorated name" table)
foreach(name bytes ordinal IN ZIP_LISTS KX_DEF_NAMES KX_DEF_BYTES KX_DEF_ORDINALS)
  table_row(${name} ${ordinal} ${bytes} "_${name}@${bytes}" row)
  string(APPEND table "${row}")
endforeach()
string(REGEX REPLACE "\n$" "" KX_EXPORT_TABLE "${table}")

# The paragraph of the header's opening comment that names stdcall, the
# calling convention, without the comment's " * " margin.
file(READ "${HEADER}" header)
string(FIND "${header}" "*/" end)
string(SUBSTRING "${header}" 0 ${end} comment)
string(REGEX REPLACE "\n \\*[ \t]*\n" "\n\n" comment "${comment}")
string(REGEX REPLACE "\n \\* " "\n  " comment "${comment}")
# Semicolons would split the paragraphs as a list does; they stand aside
# meanwhile.
string(REPLACE ";" "%3B" comment "${comment}")
string(REPLACE "\n\n" ";" paragraphs "${comment}")
set(KX_CALLING_CONVENTION)
foreach(paragraph IN LISTS paragraphs)
  if(paragraph MATCHES "stdcall")
    string(STRIP "${paragraph}" KX_CALLING_CONVENTION)
    string(REPLACE "%3B" ";" KX_CALLING_CONVENTION "  ${KX_CALLING_CONVENTION}")
    break()
  endif()
endforeach()
if(NOT KX_CALLING_CONVENTION)
  message(FATAL_ERROR "${HEADER}: no paragraph on the calling convention in its opening comment")
endif()
configure_file("${TEMPLATE}" "${OUT}" @ONLY)
