# Included after project() by the clang-cl toolchain files: Windows system
# libraries named in target_link_libraries resolve to Wine's import libraries.
foreach(lib user32)
  if(NOT TARGET ${lib})
    add_library(${lib} STATIC IMPORTED)
    set_target_properties(${lib} PROPERTIES IMPORTED_LOCATION ${QUARNEL_WINE_LIBDIR}/lib${lib}.a)
  endif()
endforeach()
