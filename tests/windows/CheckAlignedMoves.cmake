# mingw-w64 GCC aligns the stack to 16 bytes at most on x86-64, so a 32- or
# 64-byte register spilled with an aligned move faults when the slot happens
# to be misaligned. The kernels are assembled with unaligned moves only; this
# makes sure no aligned or non-temporal (also alignment-checked) move of a
# YMM or ZMM register to or from memory is left anywhere in the library.
include(${CMAKE_CURRENT_LIST_DIR}/../ObjectScan.cmake)
set(wide 0)
foreach(object IN LISTS objects)
  object_code(code ${object})
  string(REGEX MATCHALL "\tvmov(ap[sd]|dqa(32|64)?|nt[a-z]*) [^\n]*" moves "${code}")
  foreach(move IN LISTS moves)
    if(move MATCHES "%[yz]mm" AND move MATCHES "\\(")
      message(FATAL_ERROR "${object} has an aligned wide move to or from memory:${move}")
    endif()
  endforeach()
  if(code MATCHES "%ymm")
    math(EXPR wide "${wide} + 1")
  endif()
endforeach()
# And the wide kernels are among the objects, so the check above saw them.
if(wide EQUAL 0)
  message(FATAL_ERROR "no YMM code among: ${OBJECTS}")
endif()
