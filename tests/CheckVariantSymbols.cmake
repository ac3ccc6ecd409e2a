# Each file compiled for its own instruction set defines its kernels and
# nothing the linker could merge: a weak symbol (an inline function or
# template instance) from an AVX-512 file could replace the baseline copy
# every other file calls, and run AVX-512 code on a processor without it.
# Weak objects (V, such as type information a sanitizer emits) are data and
# the same in every file.
separate_arguments(objects UNIX_COMMAND "${OBJECTS}")
set(checked 0)
foreach(object ${objects})
  if(NOT object MATCHES "ComputeNormals(Sse2|Avx2|Avx2Fma|Avx512|Avx512Fast)\\.cpp\\.o")
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  execute_process(COMMAND nm --defined-only ${object} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${object}")
  endif()
  string(REGEX MATCHALL "[^\n]* W [^\n]*" weak "${symbols}")
  if(weak)
    message(FATAL_ERROR "mergeable symbols in ${object}:\n${weak}")
  endif()
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no variant objects among: ${OBJECTS}")
endif()
