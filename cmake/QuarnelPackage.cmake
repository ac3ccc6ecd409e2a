# Release packages from an ordinary build: cmake --build <dir> --target package
# makes Quarnel-<version>-Linux.tar.gz and quarnel_<version>_<arch>.deb on
# Linux, Quarnel-<version>-win64.zip or -win32.zip from the Windows builds.
set(CPACK_PACKAGE_NAME Quarnel)
set(CPACK_PACKAGE_VENDOR "The Quarnel authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Turns height images into normal (bump) maps")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME quarnel)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Quarnel authors")
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # dpkg-shlibdeps (dpkg-dev) fills in the C library the module needs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
