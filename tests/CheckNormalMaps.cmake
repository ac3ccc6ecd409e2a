# The consumer's normal maps (quarnel_add_normal_maps), in a consumer build
# folder BUILD configured with QUARNEL_MAPS, from SRC, whose textures/a.tga
# and textures/sub/b.v2.tga are copies of the sample: both maps equal
# EXPECTED (b.v2_n.tga: the stem ends at the last dot), a second build
# converts nothing, after one source is touched exactly its map is made
# again, and after each of MODULES (the package's module and engine) is,
# every map (but with ONCE, where each start is dear).
# TARGET: what to build. Run with -P, or included by CheckInstall.cmake.
string(REPLACE "|" ";" MODULES "${MODULES}")
function(build_maps want)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD} --target ${TARGET}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REGEX MATCHALL "Normal map of [^\r\n]*" made "${out}")
  list(SORT made)
  list(TRANSFORM want PREPEND "Normal map of ")
  if(NOT rc EQUAL 0 OR NOT made STREQUAL want)
    message(FATAL_ERROR "building ${TARGET} made \"${made}\", not \"${want}\" (${rc}):\n${out}")
  endif()
endfunction()

set(all "textures/a.tga;textures/sub/b.v2.tga")
build_maps("${all}")
foreach(map a_n.tga sub/b.v2_n.tga)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${BUILD}/maps/textures/${map} ${EXPECTED}
    RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "maps/textures/${map} differs from ${EXPECTED}")
  endif()
endforeach()
build_maps("")
if(NOT ONCE)
  file(TOUCH ${SRC}/textures/sub/b.v2.tga)
  build_maps("textures/sub/b.v2.tga")
  foreach(module IN LISTS MODULES)
    # Past the file system's clock tick, or the map just made would look as new.
    execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 0.05)
    file(TOUCH ${module})
    build_maps("${all}")
  endforeach()
endif()
