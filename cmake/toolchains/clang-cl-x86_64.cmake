# Build with Microsoft's compiler driver, clang-cl, for 64-bit Windows, with
# Wine's headers and import libraries (Debian libwine-dev) as the SDK. Proves
# the build's MSVC branch without Microsoft's SDK; Microsoft's C++ library is
# not there either, so cmake/windows-sdk/msvc-stand-ins/ forwards the few C++
# headers the library includes to Wine's C headers, and the programs that need
# more of the C++ library (quarnel-convert, the engine and the test hosts)
# are not built.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(QUARNEL_CLANG_CL_TARGET x86_64-pc-windows-msvc)
set(QUARNEL_WINE_ARCH x86_64)
set(QUARNEL_WINE_LOADER wine64)
set(QUARNEL_WINE_INLINE_INTRINSICS _InterlockedCompareExchange128)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cl-common.cmake)
