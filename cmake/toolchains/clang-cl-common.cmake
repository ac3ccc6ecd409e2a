# Shared part of the clang-cl toolchain files: QUARNEL_CLANG_CL_TARGET names
# the target, QUARNEL_WINE_ARCH the folder of Wine's PE import libraries and
# QUARNEL_WINE_LOADER the Wine program that runs the target's programs. With
# QUARNEL_IMPORT_DEFS, a folder of .def files, the import libraries are made
# from those instead, and only the module is built: with no C runtime start
# code, it has no entry point (it needs none: loading it does nothing).
set(CMAKE_C_COMPILER clang-cl-14)
set(CMAKE_CXX_COMPILER clang-cl-14)
set(CMAKE_LINKER lld-link-14)
set(CMAKE_AR llvm-lib-14)
set(CMAKE_RC_COMPILER llvm-rc-14)
set(CMAKE_MT llvm-mt-14)
# For the tests' look at the module's tables and instructions.
set(CMAKE_OBJDUMP llvm-objdump-14)
set(CMAKE_NM llvm-nm-14)

find_path(QUARNEL_WINE_INCLUDE NAMES msvcrt/stdio.h windows/windows.h
  PATHS /usr/include/wine/wine /usr/local/include/wine/wine /opt/wine/include/wine
  NO_DEFAULT_PATH REQUIRED)
if(QUARNEL_IMPORT_DEFS)
  find_program(QUARNEL_LLVM_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool REQUIRED)
  set(QUARNEL_WINE_LIBDIR ${CMAKE_BINARY_DIR}/import-libraries)
  file(GLOB defs ${QUARNEL_IMPORT_DEFS}/*.def)
  foreach(def IN LISTS defs)
    get_filename_component(name ${def} NAME_WE)
    file(MAKE_DIRECTORY ${QUARNEL_WINE_LIBDIR})
    execute_process(COMMAND ${QUARNEL_LLVM_DLLTOOL} -m arm64 -d ${def} -l ${QUARNEL_WINE_LIBDIR}/lib${name}.a
      RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "llvm-dlltool failed on ${def}")
    endif()
  endforeach()
  # Compiler checks build static libraries: no program links without start code.
  set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
else()
  # QUARNEL_WINE_ROOT: a folder Wine's packages were unpacked into (dpkg -x),
  # searched first; the compiler checks' projects get it too.
  list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUARNEL_WINE_ROOT)
  set(roots /usr/lib/x86_64-linux-gnu/wine /usr/lib/i386-linux-gnu/wine /usr/lib/wine /usr/lib64/wine
    /usr/local/lib/wine)
  if(QUARNEL_WINE_ROOT)
    list(PREPEND roots ${QUARNEL_WINE_ROOT}/usr/lib/x86_64-linux-gnu/wine ${QUARNEL_WINE_ROOT}/usr/lib/i386-linux-gnu/wine)
  endif()
  find_path(QUARNEL_WINE_LIBDIR NAMES libucrtbase.a PATHS ${roots}
    PATH_SUFFIXES ${QUARNEL_WINE_ARCH}-windows NO_DEFAULT_PATH REQUIRED)
endif()

# Wine's C headers and the compiler's own (intrinsics), nothing from the
# environment (/X); WCHAR is wchar_t, as in Microsoft's SDK. winnt.h defines some interlocked functions inline that are
# clang builtins (QUARNEL_WINE_INLINE_INTRINSICS); renamed, they stay out of
# the way. No /GS: its cookie lives in Microsoft's static runtime, which Wine
# does not have.
string(JOIN " " flags --target=${QUARNEL_CLANG_CL_TARGET} /X /GS-
  "\"/imsvc${CMAKE_CURRENT_LIST_DIR}/../windows-sdk/msvc-stand-ins\""
  "\"/imsvc${QUARNEL_WINE_INCLUDE}/msvcrt\"" "\"/imsvc${QUARNEL_WINE_INCLUDE}/windows\""
  -DWINE_UNICODE_NATIVE)
foreach(name IN LISTS QUARNEL_WINE_INLINE_INTRINSICS)
  string(APPEND flags " -D${name}=wine${name}")
endforeach()
set(CMAKE_C_FLAGS_INIT "${flags}")
set(CMAKE_CXX_FLAGS_INIT "${flags}")

# Wine's C runtime (ucrtbase) is initialised by its own DLL, so a module's
# stdio works from the first call; libwinecrt0 has the entry points.
set(libs "")
set(runtime ucrtbase kernel32 ntdll winecrt0)
if(QUARNEL_IMPORT_DEFS)
  set(runtime ucrtbase kernel32)
endif()
foreach(lib IN LISTS runtime)
  string(APPEND libs " \"${QUARNEL_WINE_LIBDIR}/lib${lib}.a\"")
endforeach()
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "Libraries every C program links")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "Libraries every C++ program links")
# Wine's 32-bit import libraries carry no safe-exception-handler table.
if(QUARNEL_WINE_ARCH STREQUAL "i386")
  string(APPEND libs " /safeseh:no")
endif()
# lld-link resolves archives wherever they stand on its command line.
set(CMAKE_EXE_LINKER_FLAGS_INIT "/nodefaultlib /MANIFEST:NO /entry:mainCRTStartup${libs}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "/nodefaultlib /MANIFEST:NO /entry:DllMainCRTStartup${libs}")
if(QUARNEL_IMPORT_DEFS)
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "/nodefaultlib /MANIFEST:NO /noentry${libs}")
endif()
# Other system libraries the project links by name (user32) come from Wine too.
set(CMAKE_PROJECT_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/clang-cl-system-libraries.cmake)

# The loader of the target's width directly: with wine32 installed, wine is
# the 32-bit one and wine64 (outside PATH on Debian) the 64-bit one.
if(QUARNEL_WINE_LOADER)
  find_program(QUARNEL_WINE NAMES ${QUARNEL_WINE_LOADER} PATHS /usr/lib/wine /usr/lib64/wine)
  if(QUARNEL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARNEL_WINE})
  endif()
endif()
