# quarnel_add_normal_maps(<target> SOURCES <tga>... [OUTPUT_DIRECTORY <dir>] [TEXEL_SIZE <s>])
#
# Adds <target>, part of ALL, that makes a normal map of each source with the
# packaged quarnel-convert: one build rule per texture, so the build tool
# converts in parallel, only what changed, and again after Quarnel (the
# module, the engine or the tool) changes.
# A source under the current source folder (or binary folder) writes
# <dir>/<its path relative to that folder, less the extension>_n.tga, any
# other <dir>/<name>_n.tga; <dir> is the current binary folder unless given
# (relative to it), the texel size 1 unless given. Two sources that would
# write one map are refused. The target's QUARNEL_NORMAL_MAPS property lists
# the maps. Cross-compiled, the tool runs under CMAKE_CROSSCOMPILING_EMULATOR.
function(quarnel_add_normal_maps target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "OUTPUT_DIRECTORY;TEXEL_SIZE" "SOURCES")
  if(arg_UNPARSED_ARGUMENTS OR NOT arg_SOURCES)
    message(FATAL_ERROR "quarnel_add_normal_maps(<target> SOURCES <tga>... [OUTPUT_DIRECTORY <dir>] "
      "[TEXEL_SIZE <s>]), not: ${ARGN}")
  endif()
  if(NOT TARGET Quarnel::quarnel-convert)
    message(FATAL_ERROR "quarnel_add_normal_maps: this Quarnel package has no quarnel-convert")
  endif()
  set(emulator "")
  if(CMAKE_CROSSCOMPILING)
    if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
      message(FATAL_ERROR "quarnel_add_normal_maps: quarnel-convert of this package runs on the target "
        "only; set CMAKE_CROSSCOMPILING_EMULATOR (Wine, for a Windows package on Linux)")
    endif()
    set(emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  if(NOT DEFINED arg_TEXEL_SIZE)
    set(arg_TEXEL_SIZE 1)
  endif()
  get_filename_component(out "${arg_OUTPUT_DIRECTORY}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")

  set(maps "")
  set(keys "")
  foreach(source IN LISTS arg_SOURCES)
    get_filename_component(source "${source}" ABSOLUTE)
    get_filename_component(name "${source}" NAME)
    set(rel "${name}")
    foreach(base "${CMAKE_CURRENT_SOURCE_DIR}" "${CMAKE_CURRENT_BINARY_DIR}")
      cmake_path(IS_PREFIX base "${source}" NORMALIZE inside)
      if(inside)
        file(RELATIVE_PATH rel "${base}" "${source}")
        break()
      endif()
    endforeach()
    # As quarnel-convert names a map: the last extension goes.
    string(REGEX REPLACE "([^/])\\.[^./]*$" "\\1" stem "${rel}")
    set(map "${out}/${stem}_n.tga")
    string(TOLOWER "${map}" key)
    if(NOT (CMAKE_HOST_WIN32 OR CMAKE_HOST_APPLE))
      set(key "${map}")
    endif()
    if(key IN_LIST keys)
      message(FATAL_ERROR "quarnel_add_normal_maps: two sources would write ${map}")
    endif()
    list(APPEND keys "${key}")
    get_filename_component(map_dir "${map}" DIRECTORY)
    add_custom_command(OUTPUT "${map}"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${map_dir}"
      COMMAND ${emulator} "$<TARGET_FILE:Quarnel::quarnel-convert>" --quiet --jobs 1 --texel-size ${arg_TEXEL_SIZE}
        "${source}" "${map}"
      MAIN_DEPENDENCY "${source}"
      DEPENDS Quarnel::quarnel-convert "$<TARGET_FILE:Quarnel::Quarnel>" "$<TARGET_FILE:Quarnel::QuarnelBatch>"
      COMMENT "Normal map of ${rel}" VERBATIM)
    list(APPEND maps "${map}")
  endforeach()
  add_custom_target(${target} ALL DEPENDS ${maps})
  set_target_properties(${target} PROPERTIES QUARNEL_NORMAL_MAPS "${maps}")
endfunction()
