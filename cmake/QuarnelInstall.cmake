# cmake --install puts the header, the module and a package configuration in
# place, so a host's find_package(Quarnel) yields the target Quarnel::Quarnel.
include(CMakePackageConfigHelpers)

install(TARGETS Quarnel EXPORT QuarnelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET quarnel-convert)
  install(TARGETS quarnel-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(QUARNEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quarnel)
install(EXPORT QuarnelTargets NAMESPACE Quarnel:: DESTINATION ${QUARNEL_CMAKE_DIR})
configure_package_config_file(cmake/QuarnelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuarnelConfig.cmake INSTALL_DESTINATION ${QUARNEL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuarnelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QuarnelConfig.cmake ${PROJECT_BINARY_DIR}/QuarnelConfigVersion.cmake
  DESTINATION ${QUARNEL_CMAKE_DIR})
