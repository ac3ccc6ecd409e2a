# The library's own code computes in SSE2 only: no x87 arithmetic (its extended
# precision changes bytes, and 32-bit x86 defaults to it) and no fused
# multiply-add or approximate reciprocal, except in the fast-path objects
# (FAST, as CheckExactInstructions.cmake takes it), which propose bytes
# behind an error bound. Loads and stores through the x87 stack are allowed:
# 32-bit functions return floating-point values there, exactly.
include(${CMAKE_CURRENT_LIST_DIR}/../ObjectScan.cmake)
kernel_list(fast "${FAST}")
list(TRANSFORM fast REPLACE ":.*" "")
set(x87 "f(add|sub|subr|mul|div|divr|sqrt|prem|prem1|scale|rndint|sin|cos|sincos|patan|ptan|yl2x|yl2xp1|2xm1)p?[sl]?")
foreach(object IN LISTS objects)
  object_code(code ${object})
  kernel_of(id ${object})
  set(approximate "|v?fn?m(add|sub)[a-z0-9]*|v?rsqrt[a-z0-9]*|v?rcp[a-z0-9]*")
  if(id AND id IN_LIST fast)
    set(approximate "")
  endif()
  # binutils puts spaces after the mnemonic, llvm-objdump a tab.
  string(REGEX MATCHALL "\t(${x87}|fi(add|sub|subr|mul|div|divr)[sl]?${approximate})[ \t][^\n]*" bad "${code}")
  if(bad)
    message(FATAL_ERROR "${object} has x87, fused or approximate arithmetic:\n${bad}")
  endif()
endforeach()
