# Each file compiled for its own instruction set defines its kernels and
# nothing the linker could merge: a weak symbol (an inline function or
# template instance) from an AVX-512 file could replace the baseline copy
# every other file calls, and run AVX-512 code on a processor without it.
# Weak objects (V, such as type information a sanitizer emits) are data and
# the same in every file. PE objects have no weak symbols; the linker merges
# COMDAT sections instead, so no code may sit in one.
if(NOT NM)
  set(NM nm)
endif()
if(NOT OBJDUMP)
  set(OBJDUMP objdump)
endif()
separate_arguments(objects UNIX_COMMAND "${OBJECTS}")
set(checked 0)
foreach(object ${objects})
  if(NOT object MATCHES "RowKernels(Sse2|Avx2|Avx512)[A-Za-z0-9]*\\.cpp\\.o(bj)?$")
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  execute_process(COMMAND ${NM} --defined-only ${object} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
  execute_process(COMMAND ${OBJDUMP} -h ${object} OUTPUT_VARIABLE sections RESULT_VARIABLE rc2)
  if(NOT rc EQUAL 0 OR NOT rc2 EQUAL 0)
    message(FATAL_ERROR "${NM} or ${OBJDUMP} failed on ${object}")
  endif()
  string(REGEX MATCHALL "[^\n]* W [^\n]*|CODE[^\n]*LINK_ONCE[^\n]*" weak "${symbols}\n${sections}")
  if(weak)
    message(FATAL_ERROR "mergeable symbols in ${object}:\n${weak}")
  endif()
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no variant objects among: ${OBJECTS}")
endif()
