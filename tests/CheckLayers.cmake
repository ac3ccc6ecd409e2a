# The normal map's layers call downwards only: the row kernels nothing above
# them, the dispatch (KernelDispatch) the kernels, the driver (NormalMap) the
# dispatch. No object may reference a symbol that an object of a higher
# layer defines, so the dispatch cannot call back into the driver.
include(${CMAKE_CURRENT_LIST_DIR}/ObjectScan.cmake)

# Names of the symbols nm lists in its output, one a line.
function(symbol_names output result)
  string(REGEX MATCHALL "[^ \n]+\n" names "${output}\n")
  list(TRANSFORM names STRIP)
  set(${result} ${names} PARENT_SCOPE)
endfunction()

set(above "")
foreach(layer NormalMap KernelDispatch "RowKernels[A-Za-z0-9]*")
  set(defined "")
  set(found 0)
  foreach(object ${objects})
    if(NOT object MATCHES "/${layer}\\.cpp\\.o(bj)?$")
      continue()
    endif()
    set(found 1)
    object_dump(undefined ${object} ${NM} --undefined-only)
    object_dump(exported ${object} ${NM} --defined-only --extern-only)
    symbol_names("${undefined}" undefined)
    foreach(symbol IN LISTS undefined)
      if(symbol IN_LIST above)
        message(FATAL_ERROR "${object} calls up a layer: ${symbol}")
      endif()
    endforeach()
    symbol_names("${exported}" exported)
    list(APPEND defined ${exported})
  endforeach()
  if(NOT found)
    message(FATAL_ERROR "no object of the layer ${layer} among: ${OBJECTS}")
  endif()
  list(APPEND above ${defined})
endforeach()
