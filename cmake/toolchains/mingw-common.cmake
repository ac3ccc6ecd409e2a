# Shared part of the mingw-w64 toolchain files; QUARNEL_MINGW_TRIPLE names the target.
set(CMAKE_C_COMPILER ${QUARNEL_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${QUARNEL_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${QUARNEL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUARNEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine runs the test programs, in a prefix of the build folder's own (or
# QUARNEL_WINE_PREFIX), so no run touches the user's ~/.wine. Where
# 32-bit Wine is installed too, Debian's `wine` is the 32-bit loader and the
# 64-bit one lives in its library folder only.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  find_program(QUARNEL_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine)
else()
  find_program(QUARNEL_WINE NAMES wine)
endif()
if(QUARNEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARNEL_WINE})
endif()
set(CMAKE_DLLTOOL ${QUARNEL_MINGW_TRIPLE}-dlltool)

# Programs (quarnel-convert, the test hosts) link their runtime statically
# too, so Wine or a Windows machine runs them without mingw DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
