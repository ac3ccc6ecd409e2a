# The kernel variants as the build reads them from src/normalmap/Kernels.def.

# The processor the compiler builds for, as the table names it: one of
# QUARNEL_ARCHITECTURES (each with what GNU and Microsoft compilers define
# for it) in QUARNEL_ARCH, empty for any other. Asked of the preprocessor,
# so it holds for GCC, Clang and Microsoft's compilers, cross or native.
include(CheckCXXSourceCompiles)
set(QUARNEL_ARCHITECTURES x86_64:__x86_64__:_M_X64 x86:__i386__:_M_IX86 aarch64:__aarch64__:_M_ARM64)
function(quarnel_target_architecture)
  set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
  set(QUARNEL_ARCH "" PARENT_SCOPE)
  foreach(arch IN LISTS QUARNEL_ARCHITECTURES)
    string(REPLACE ":" ";" arch "${arch}")
    list(GET arch 0 name)
    list(GET arch 1 gnu)
    list(GET arch 2 microsoft)
    check_cxx_source_compiles("
      #if !defined(${gnu}) && !defined(${microsoft})
      #error not ${name}
      #endif
      int main() { return 0; }" QUARNEL_TARGET_${name})
    if(QUARNEL_TARGET_${name})
      set(QUARNEL_ARCH ${name} PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

# Stops the configure step at a row that does not hold together: its file
# is missing, it names an architecture the build does not know, or its file
# is built with an instruction set (-m<feature>) it does not need.
function(quarnel_check_kernel_row name arch needs gcc)
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/src/normalmap/RowKernels${name}.cpp)
    message(FATAL_ERROR "Kernels.def: row ${name} has no file src/normalmap/RowKernels${name}.cpp")
  endif()
  set(known ${QUARNEL_ARCHITECTURES})
  list(TRANSFORM known REPLACE ":.*" "")
  foreach(word IN LISTS arch)
    if(NOT word IN_LIST known)
      message(FATAL_ERROR "Kernels.def: row ${name} names the architecture ${word}, none of ${known}")
    endif()
  endforeach()
  foreach(option IN LISTS gcc)
    if(option MATCHES "^-m([a-z0-9]+)$" AND NOT CMAKE_MATCH_1 IN_LIST needs)
      message(FATAL_ERROR "Kernels.def: row ${name} is built with ${option} but does not need ${CMAKE_MATCH_1}")
    endif()
  endforeach()
endfunction()

# In var, the options a row's file is compiled with here, or SKIP where this
# build does not take the row: a row with architectures is built only for
# those, and only by GCC, Clang or Microsoft's compilers; one without is
# portable code every build has.
function(quarnel_kernel_options var arch gcc msvc)
  set(${var} SKIP PARENT_SCOPE)
  if(arch AND NOT QUARNEL_ARCH IN_LIST arch)
    return()
  elseif(MSVC)
    set(${var} "${msvc}" PARENT_SCOPE)
  elseif(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    # mingw-w64 GCC cannot realign the x86-64 stack beyond 16 bytes (its
    # unwind data has no way to say so), so an aligned move it made to a 32-
    # or 64-byte stack slot would fault. Rather than trust each compiler
    # version to avoid them, the assembler turns every aligned vector move
    # into its unaligned form, which costs nothing on aligned data; VEX and
    # EVEX arithmetic takes unaligned operands anyway.
    if(MINGW AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND gcc MATCHES "-mavx")
      list(APPEND gcc -Wa,-muse-unaligned-vector-move)
    endif()
    set(${var} "${gcc}" PARENT_SCOPE)
  elseif(NOT arch)
    set(${var} "" PARENT_SCOPE)
  endif()
endfunction()

# Builds into target each row of the table this build takes, its file
# compiled with its options and run only where the processor reports what
# the row needs (see src/normalmap/CpuFeatures.cpp). The rows built are
# copied to KernelsBuilt.def for the dispatch and listed for the tests:
#   QUARNEL_KERNELS       each row's Id, in the table's order
#   QUARNEL_FAST_KERNELS  Id:Exact of each fast path
#   QUARNEL_ISA_KERNELS   the Ids of rows compiled for an instruction set of
#                         their own (those with architectures)
function(quarnel_kernel_table target)
  set(dir ${PROJECT_SOURCE_DIR}/src/normalmap)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${dir}/Kernels.def)
  file(READ ${dir}/Kernels.def table)
  string(REGEX MATCHALL "(^|\n)QUARNEL_KERNEL[^\n]*" rows "${table}")
  set(q "\"([^\"]*)\"")
  set(id "([A-Za-z0-9]+)")
  set(row "^\n?QUARNEL_KERNEL\\(${id}, *${q}, *${q}, *${q}, *${id}, *${id}, *${q}, *${q}\\)$")
  set(ids "")
  set(built "")
  set(fast "")
  set(isa "")
  set(copied "")
  foreach(line IN LISTS rows)
    if(NOT line MATCHES "${row}")
      message(FATAL_ERROR "Kernels.def: not a row of one line:${line}")
    endif()
    set(name ${CMAKE_MATCH_1})
    set(exact ${CMAKE_MATCH_5})
    separate_arguments(arch UNIX_COMMAND "${CMAKE_MATCH_3}")
    separate_arguments(needs UNIX_COMMAND "${CMAKE_MATCH_4}")
    separate_arguments(gcc UNIX_COMMAND "${CMAKE_MATCH_7}")
    separate_arguments(msvc UNIX_COMMAND "${CMAKE_MATCH_8}")
    quarnel_check_kernel_row(${name} "${arch}" "${needs}" "${gcc}")
    list(APPEND ids ${name})
    quarnel_kernel_options(options "${arch}" "${gcc}" "${msvc}")
    if(options STREQUAL "SKIP")
      continue()
    endif()
    set(file ${dir}/RowKernels${name}.cpp)
    target_sources(${target} PRIVATE ${file})
    if(options)
      set_source_files_properties(${file} TARGET_DIRECTORY ${target} PROPERTIES COMPILE_OPTIONS "${options}")
    endif()
    list(APPEND built ${name})
    if(NOT exact STREQUAL name)
      list(APPEND fast ${name}:${exact})
    endif()
    if(arch)
      list(APPEND isa ${name})
    endif()
    string(STRIP "${line}" line)
    string(APPEND copied "${line}\n")
  endforeach()

  # A kernel file without a row would be left out without a word.
  file(GLOB files RELATIVE ${dir} ${dir}/RowKernels*.cpp)
  foreach(file IN LISTS files)
    string(REGEX REPLACE "^RowKernels(.*)\\.cpp$" "\\1" name ${file})
    if(NOT name IN_LIST ids)
      message(FATAL_ERROR "src/normalmap/${file} has no row in Kernels.def")
    endif()
  endforeach()

  list(LENGTH ids count)
  set(generated ${PROJECT_BINARY_DIR}/generated)
  file(CONFIGURE OUTPUT ${generated}/KernelsBuilt.def CONTENT
    "// The rows of src/normalmap/Kernels.def this build compiles, copied by\n// cmake/QuarnelKernels.cmake; of ${count} rows in all.\n#define QUARNEL_KERNEL_ROWS ${count}\n${copied}"
    @ONLY)
  target_include_directories(${target} PRIVATE ${generated})
  set(QUARNEL_KERNELS ${built} PARENT_SCOPE)
  set(QUARNEL_FAST_KERNELS ${fast} PARENT_SCOPE)
  set(QUARNEL_ISA_KERNELS ${isa} PARENT_SCOPE)
endfunction()
