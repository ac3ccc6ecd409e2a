# Build with Microsoft's compiler driver, clang-cl, for 64-bit ARM Windows,
# with Wine's headers as the SDK. Wine's ARM64 import libraries are not in
# Debian, so llvm-dlltool makes them from the small .def files in
# cmake/windows-sdk/arm64-imports/, which name the few system functions the
# library calls; a new call fails the link until it is added there. No
# Windows on ARM runs here: the tests read the DLL's tables and instructions
# only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(QUARNEL_CLANG_CL_TARGET aarch64-pc-windows-msvc)
set(QUARNEL_WINE_ARCH aarch64)
set(QUARNEL_IMPORT_DEFS ${CMAKE_CURRENT_LIST_DIR}/../windows-sdk/arm64-imports)
set(QUARNEL_WINE_INLINE_INTRINSICS _InterlockedCompareExchange128)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cl-common.cmake)
