# clang-cl for 32-bit Windows, as cmake/toolchains/clang-cl-x86_64.cmake is for 64-bit.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(QUARNEL_CLANG_CL_TARGET i686-pc-windows-msvc)
set(QUARNEL_WINE_ARCH i386)
set(QUARNEL_WINE_LOADER wine)
set(QUARNEL_WINE_INLINE_INTRINSICS _InterlockedAnd64 _InterlockedCompareExchangePointer
  _InterlockedExchangeAdd64 _InterlockedExchangePointer _InterlockedIncrement64
  _InterlockedDecrement64 _InterlockedOr64 _InterlockedXor64)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cl-common.cmake)
