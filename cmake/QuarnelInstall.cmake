# cmake --install puts the header, the module and a package configuration in
# place, so a host's find_package(Quarnel) yields the target Quarnel::Quarnel.
include(CMakePackageConfigHelpers)

install(TARGETS Quarnel EXPORT QuarnelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The example host too, as Quarnel::quarnel-convert, which
# quarnel_add_normal_maps (QuarnelNormalMaps.cmake) runs.
if(TARGET quarnel-convert)
  install(TARGETS quarnel-convert EXPORT QuarnelTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
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

# The Python host finds the module beside itself (bin/ on Windows) or in lib/.
install(PROGRAMS examples/quarnel.py DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  install(FILES LICENSE DESTINATION .)
  install(FILES docs/windows-package.txt DESTINATION . RENAME README.txt)
else()
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
