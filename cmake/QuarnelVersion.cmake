# The version in project() is the only one: the Windows version resources,
# the CMake package version file, quarnel.pc and quarnel-convert --version
# all take it from there, and the copyright line from LICENSE.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE QUARNEL_COPYRIGHT REGEX "^Copyright" LIMIT_COUNT 1)

# Gives a Windows module or program a version resource; elsewhere does nothing.
function(quarnel_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  set(QUARNEL_RC_NAME ${target})
  if(type STREQUAL "EXECUTABLE")
    set(QUARNEL_RC_FILETYPE 0x1)
    set(QUARNEL_RC_FILENAME ${target}${CMAKE_EXECUTABLE_SUFFIX})
  else()
    set(QUARNEL_RC_FILETYPE 0x2)
    set(QUARNEL_RC_FILENAME ${target}${CMAKE_SHARED_LIBRARY_SUFFIX})
  endif()
  set(QUARNEL_RC_DESCRIPTION "${description}")
  set(tweak ${PROJECT_VERSION_TWEAK})
  if(NOT tweak)
    set(tweak 0)
  endif()
  set(QUARNEL_RC_NUMBERS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${tweak}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/QuarnelVersion.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
