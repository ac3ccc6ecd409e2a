# GoogleTest built from Debian's googletest sources (/usr/src/googletest) with
# the compiler of the build, for targets whose GoogleTest package cannot be
# linked (the Windows and ARM cross builds). Call before linking gtest or
# gtest_main; set gtest_disable_pthreads first where there are no pthreads.
function(quarnel_googletest_from_sources)
  find_path(QUARNEL_GOOGLETEST_SOURCE_DIR googletest/CMakeLists.txt PATHS /usr/src/googletest
    NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QUARNEL_GOOGLETEST_SOURCE_DIR} googletest EXCLUDE_FROM_ALL SYSTEM)
endfunction()
