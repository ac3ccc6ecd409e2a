# Quarnel.dll as a host built with Microsoft's compiler sees it: one export
# under that compiler's name for CreateBumpMaps, imports from system DLLs only
# (MessageBoxA from USER32 among them), an import library that defines the
# same name and its __imp_ pointer, and, where the linker writes a map, the
# kernels the build should hold. ARM64 says the module is for ARM64 Windows.
cmake_policy(VERSION 3.25)
if(POINTER_SIZE EQUAL 8)
  set(export "?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z")
else()
  set(export "?CreateBumpMaps@@YAXPAUSCreateBumpMap@@H@Z")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${MODULE}")
endif()
if(ARM64 AND NOT dump MATCHES "file format coff-arm64\n")
  message(FATAL_ERROR "${MODULE} is not an ARM64 module:\n${dump}")
endif()
string(REPLACE ";" "\\;" dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")

set(section "")
set(exports "")
set(dlls "")
set(user32 "")
foreach(line IN LISTS lines)
  # binutils' objdump lists the names under the first heading, llvm-objdump
  # ordinals, addresses and names under the second.
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(section exports)
  elseif(line MATCHES "^ Ordinal +RVA +Name$")
    set(section llvm-exports)
  elseif(line MATCHES "^[ \t]*DLL Name: (.*)$")
    set(dll "${CMAKE_MATCH_1}")
    list(APPEND dlls "${dll}")
    string(TOUPPER "${dll}" dll)
    set(section "import ${dll}")
  elseif(line MATCHES "^[ \t]*$")
    set(section "")
  elseif(section STREQUAL "exports" AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.*)$")
    list(APPEND exports "${CMAKE_MATCH_1}")
  elseif(section STREQUAL "llvm-exports" AND line MATCHES "^ +[0-9]+ +0x[0-9a-f]+ +(.+)$")
    list(APPEND exports "${CMAKE_MATCH_1}")
  elseif(section STREQUAL "import USER32.DLL" AND line MATCHES "[ \t]([A-Za-z0-9_]+)$")
    list(APPEND user32 "${CMAKE_MATCH_1}")
  endif()
endforeach()

if(NOT exports STREQUAL export)
  message(FATAL_ERROR "expected the one export ${export}, found: ${exports}")
endif()
if(NOT "MessageBoxA" IN_LIST user32)
  message(FATAL_ERROR "MessageBoxA is not imported from USER32 (imports: ${user32})")
endif()
# Only what every Windows has (the universal C runtime, ucrtbase, since
# Windows 10); a mingw runtime DLL (libgcc_s_*, libstdc++-6,
# libwinpthread-1) would have to travel with the module.
foreach(dll IN LISTS dlls)
  string(TOUPPER "${dll}" upper)
  if(NOT upper MATCHES "^(KERNEL32|USER32|MSVCRT|UCRTBASE)\\.DLL$")
    message(FATAL_ERROR "${MODULE} imports from ${dll}; allowed are KERNEL32, USER32, msvcrt and ucrtbase")
  endif()
endforeach()

execute_process(COMMAND ${NM} ${IMPORT_LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${IMPORT_LIBRARY}")
endif()
# dlltool's pointer is import data (I), lld-link's a plain symbol (T).
string(REGEX MATCHALL "[^\n]* [IT] __imp_[^\n]*" pointers "${symbols}")
# Section symbols (.text of a short import member) are not names.
string(REGEX MATCHALL "[^\n]* T [^.\n][^\n]*" thunks "${symbols}")
string(REGEX REPLACE "[^;]* [IT] " "" pointers "${pointers}")
string(REGEX REPLACE "[^;]* T " "" thunks "${thunks}")
list(FILTER thunks EXCLUDE REGEX "^__imp_")
if(NOT pointers STREQUAL "__imp_${export}" OR NOT thunks STREQUAL "${export}")
  message(FATAL_ERROR "${IMPORT_LIBRARY} should define ${export} and __imp_${export}, has:\n${symbols}")
endif()

# Given the map Microsoft's linker writes, each kernel in KERNELS is in the module.
if(MAP)
  file(READ ${MAP} map)
  string(REPLACE "|" ";" kernels "${KERNELS}")
  foreach(kernel IN LISTS kernels)
    if(NOT map MATCHES "\\?NormalRow${kernel}@@")
      message(FATAL_ERROR "NormalRow${kernel} is not in ${MAP}")
    endif()
  endforeach()
  # Nor static initialisers: the library keeps no global state, and an entry
  # point other than the C runtime's own (Wine's) would not run them.
  if(map MATCHES "\\.CRT\\$XC")
    message(FATAL_ERROR "${MAP} lists static initialisers (.CRT$XC*)")
  endif()
endif()
