# Cross-build of Quarnel.dll for 32-bit Windows with Debian's mingw-w64
# (g++-mingw-w64-i686). CMAKE_SYSTEM_PROCESSOR i686 is what turns on SSE2
# arithmetic in QuarnelFlags.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUARNEL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
