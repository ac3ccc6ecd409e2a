# Release packages from an ordinary build: cmake --build <dir> --target package
# makes Quarnel-<version>-Linux.tar.gz (-Linux-aarch64 on 64-bit ARM) and
# quarnel_<version>_<arch>.deb on Linux, Quarnel-<version>-win64.zip,
# -win32.zip or -win-arm64.zip from the Windows builds.
set(CPACK_PACKAGE_NAME Quarnel)
set(CPACK_PACKAGE_VENDOR "The Quarnel authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Turns height images into normal (bump) maps")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # CPack names every 64-bit Windows package win64, ARM64 too.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(ARM64|arm64|aarch64)$")
    set(CPACK_SYSTEM_NAME win-arm64)
  endif()
else()
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME quarnel)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Quarnel authors")
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # dpkg-shlibdeps (dpkg-dev) fills in the C library the module needs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # 64-bit ARM: Quarnel-<version>-Linux-aarch64.tar.gz and an arm64 .deb,
  # whatever machine built them.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
    set(CPACK_SYSTEM_NAME Linux-aarch64)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  endif()
  if(CMAKE_CROSSCOMPILING)
    # dpkg-shlibdeps looks for the target's libraries among the installed
    # packages of its architecture, which a cross-building machine lacks (its
    # cross libraries' packages give their own names, *-arm64-cross). So the
    # dependencies are given by hand: at least the C library and the GCC
    # runtime the build linked against.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
    find_file(QUARNEL_GLIBC_FEATURES features.h PATH_SUFFIXES include REQUIRED)
    file(STRINGS ${QUARNEL_GLIBC_FEATURES} glibc REGEX "^#define[ \t]+__GLIBC(_MINOR)?__[ \t]+[0-9]+")
    string(REGEX REPLACE ".*__GLIBC__[ \t]+([0-9]+).*__GLIBC_MINOR__[ \t]+([0-9]+).*" "\\1.\\2" glibc "${glibc}")
    string(REGEX MATCH "^[0-9]+" gcc "${CMAKE_CXX_COMPILER_VERSION}")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${glibc}), libgcc-s1 (>= ${gcc}), libstdc++6 (>= ${gcc})")
  endif()
endif()
include(CPack)
