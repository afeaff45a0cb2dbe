# Checks a DLL's tables with objdump -p: it exports exactly the names given,
# and it imports no MinGW runtime DLL (they are linked statically), but every
# DLL that must come from its host.
# cmake -DOBJDUMP=<objdump> -DDLL=<file> -DEXPORTS=a,b -DHOST_IMPORTS=x.dll -P CheckWindowsDll.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} RESULT_VARIABLE result OUTPUT_VARIABLE tables ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${error}")
endif()

# Exports: the rows "[   n] name" of the name pointer table. (The rows are
# turned into names before they become list items: CMake lists do not split
# inside square brackets.)
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(([ \t]+\\[ *[0-9]+\\] [^\n]+\n)*)" _ "${tables}")
string(REGEX REPLACE "[ \t]+\\[ *[0-9]+\\] ([^\n]+)\n" "\\1;" exported "${CMAKE_MATCH_1}")
list(REMOVE_ITEM exported "")
list(SORT exported)
string(REPLACE "," ";" expected "${EXPORTS}")
list(SORT expected)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "${DLL} exports [${exported}], expected exactly [${expected}]")
endif()

# Imports: "DLL Name: x.dll" rows.
string(REGEX MATCHALL "DLL Name: [^\n]+" rows "${tables}")
set(imported "")
foreach(row IN LISTS rows)
  string(SUBSTRING "${row}" 10 -1 name)
  string(TOLOWER "${name}" name)
  list(APPEND imported "${name}")
endforeach()
foreach(name IN LISTS imported)
  if(name MATCHES "^lib")
    message(FATAL_ERROR "${DLL} needs the runtime DLL ${name} beside it")
  endif()
endforeach()
string(REPLACE "," ";" host_imports "${HOST_IMPORTS}")
foreach(name IN LISTS host_imports)
  string(TOLOWER "${name}" name)
  if(NOT name IN_LIST imported)
    message(FATAL_ERROR "${DLL} does not import ${name}; it imports [${imported}]")
  endif()
endforeach()
message(STATUS "${DLL} exports [${exported}] and imports [${imported}]")
