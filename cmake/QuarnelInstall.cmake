# cmake --install puts the header, the module and a package configuration in
# place, so a host's find_package(Quarnel) yields the target Quarnel::Quarnel.
include(CMakePackageConfigHelpers)

install(TARGETS Quarnel EXPORT QuarnelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The batch engine and its command line too, as Quarnel::QuarnelBatch and
# Quarnel::quarnel-convert, which quarnel_add_normal_maps
# (QuarnelNormalMaps.cmake) runs.
if(TARGET QuarnelBatch)
  install(TARGETS QuarnelBatch quarnel-convert EXPORT QuarnelTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  # The Python package, where Debian's python3 finds it in the .deb
  # (/usr/lib/python3/dist-packages) and three folders below the engine it
  # binds; on Windows python/quarnel, two below bin.
  set(python_dir ${CMAKE_INSTALL_LIBDIR}/python3/dist-packages/quarnel)
  if(WIN32)
    set(python_dir python/quarnel)
  endif()
  list(TRANSFORM QUARNEL_PYTHON_FILES PREPEND python/quarnel/ OUTPUT_VARIABLE python_files)
  install(FILES ${python_files} DESTINATION ${python_dir})
endif()

set(QUARNEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quarnel)
install(EXPORT QuarnelTargets NAMESPACE Quarnel:: DESTINATION ${QUARNEL_CMAKE_DIR})
configure_package_config_file(cmake/QuarnelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuarnelConfig.cmake INSTALL_DESTINATION ${QUARNEL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuarnelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QuarnelConfig.cmake ${PROJECT_BINARY_DIR}/QuarnelConfigVersion.cmake
  cmake/QuarnelNormalMaps.cmake DESTINATION ${QUARNEL_CMAKE_DIR})

# A pkg-config file that finds its prefix from where it lies, so an archive
# unpacked anywhere and the .deb's /usr both work.
if(NOT WIN32)
  file(RELATIVE_PATH QUARNEL_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" QUARNEL_PC_TO_PREFIX ${QUARNEL_PC_TO_PREFIX})
  configure_file(cmake/quarnel.pc.in ${PROJECT_BINARY_DIR}/quarnel.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/quarnel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

if(WIN32)
  install(FILES LICENSE DESTINATION .)
  install(FILES docs/windows-package.txt DESTINATION . RENAME README.txt)
else()
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
