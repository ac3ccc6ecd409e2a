# The module's dynamic symbol table defines exactly one symbol: CreateBumpMaps
# under its C++ name; or, with EXPORTS ('|' between them), exactly those.
if(NOT EXPORTS)
  set(EXPORTS _Z14CreateBumpMapsP14SCreateBumpMapi)
endif()
string(REPLACE "|" "\n" EXPORTS "${EXPORTS}")
if(NOT NM)
  set(NM nm)
endif()
execute_process(COMMAND ${NM} -D --defined-only ${MODULE}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${MODULE}")
endif()
string(REGEX REPLACE "[^\n]* [A-Za-z] " "" names "${symbols}")
if(NOT names STREQUAL EXPORTS)
  message(FATAL_ERROR "expected the exports\n${EXPORTS}\nfound:\n${symbols}")
endif()
