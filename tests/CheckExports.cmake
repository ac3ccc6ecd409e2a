# The module's dynamic symbol table defines exactly one symbol: CreateBumpMaps
# under its C++ name.
execute_process(COMMAND nm -D --defined-only ${MODULE}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
string(REGEX REPLACE "[^\n]* [A-Za-z] " "" names "${symbols}")
if(NOT names STREQUAL "_Z14CreateBumpMapsP14SCreateBumpMapi")
  message(FATAL_ERROR "expected one export, found:\n${symbols}")
endif()
