# Each file compiled for its own instruction set (KERNELS: the Ids of those
# rows of Kernels.def, '|' between them) defines its kernels and nothing the
# linker could merge: a weak symbol (an inline function or template
# instance) from an AVX-512 file could replace the baseline copy every other
# file calls, and run AVX-512 code on a processor without it. Weak objects
# (V, such as type information a sanitizer emits) are data and the same in
# every file. PE objects have no weak symbols; the linker merges COMDAT
# sections instead, so no code may sit in one.
include(${CMAKE_CURRENT_LIST_DIR}/ObjectScan.cmake)
kernel_list(kernels "${KERNELS}")
if(NOT kernels)
  message(FATAL_ERROR "no kernels given")
endif()
foreach(object ${objects})
  kernel_of(id ${object})
  if(NOT id IN_LIST kernels)
    continue()
  endif()
  object_dump(symbols ${object} ${NM} --defined-only)
  object_dump(sections ${object} ${OBJDUMP} -h)
  string(REGEX MATCHALL "[^\n]* W [^\n]*|CODE[^\n]*LINK_ONCE[^\n]*" weak "${symbols}\n${sections}")
  if(weak)
    message(FATAL_ERROR "mergeable symbols in ${object}:\n${weak}")
  endif()
endforeach()
