# The module's machine code has no instruction that changes the bytes it
# computes: no fused multiply-add and no approximate reciprocal or reciprocal
# square root, in any variant. A stray -mfma or -march=native shows here.
if(NOT OBJDUMP)
  set(OBJDUMP objdump)
endif()
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${MODULE}
  OUTPUT_VARIABLE code RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${MODULE}")
endif()
string(REGEX MATCHALL "[ \t](v?f[n]?m(add|sub)[a-z0-9]*|v?rsqrt[a-z0-9]*|v?rcp[a-z0-9]*)[ \t]" found "${code}")
if(found)
  list(REMOVE_DUPLICATES found)
  message(FATAL_ERROR "instructions that change results in ${MODULE}: ${found}")
endif()
# And the vector variants are there, so the check above looked at them.
foreach(insn sqrtpd divpd)
  if(NOT code MATCHES "[ \t]v?${insn}[ \t]")
    message(FATAL_ERROR "no ${insn} in ${MODULE}")
  endif()
endforeach()
