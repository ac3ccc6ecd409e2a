# Cross-build for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu). The tests run under QEMU's user-mode emulator
# (qemu-user), with the cross C and C++ libraries as its root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QUARNEL_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${QUARNEL_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${QUARNEL_CROSS_TRIPLE}-g++)
# Appended to, so -DCMAKE_FIND_ROOT_PATH=DIR adds a root (an unpacked package).
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${QUARNEL_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The tests' look at the objects' instructions and the module's symbols.
set(CMAKE_OBJDUMP ${QUARNEL_CROSS_TRIPLE}-objdump)
set(CMAKE_NM ${QUARNEL_CROSS_TRIPLE}-nm)

find_program(QUARNEL_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(QUARNEL_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARNEL_QEMU_AARCH64} -L /usr/${QUARNEL_CROSS_TRIPLE})
endif()
