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

# Builds into target every row of the table that this architecture
# (QUARNEL_ARCH) takes: a row with architectures only for those, and only by
# GCC, Clang or Microsoft's compilers; one without is portable code every
# build has. Each row's file is compiled with its options for this compiler
# and runs only where the processor reports what the row needs (see
# src/normalmap/CpuFeatures.cpp). The rows built are copied to
# KernelsBuilt.def for the dispatch and listed for the tests:
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
  set(built "")
  set(fast "")
  set(isa "")
  set(count 0)
  set(ids "")
  set(known ${QUARNEL_ARCHITECTURES})
  list(TRANSFORM known REPLACE ":.*" "")
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
    math(EXPR count "${count} + 1")
    set(file ${dir}/RowKernels${name}.cpp)
    if(NOT EXISTS ${file})
      message(FATAL_ERROR "Kernels.def: row ${name} has no file src/normalmap/RowKernels${name}.cpp")
    endif()
    foreach(word IN LISTS arch)
      if(NOT word IN_LIST known)
        message(FATAL_ERROR "Kernels.def: row ${name} names the architecture ${word}, none of ${known}")
      endif()
    endforeach()
    # An instruction set the compiler may use must be one the processor is asked for.
    foreach(option IN LISTS gcc)
      if(option MATCHES "^-m([a-z0-9]+)$" AND NOT CMAKE_MATCH_1 IN_LIST needs)
        message(FATAL_ERROR "Kernels.def: row ${name} is built with ${option} but does not need ${CMAKE_MATCH_1}")
      endif()
    endforeach()
    list(APPEND ids ${name})

    if(arch AND NOT QUARNEL_ARCH IN_LIST arch)
      continue()
    endif()
    set(options "")
    if(MSVC)
      set(options ${msvc})
    elseif(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
      set(options ${gcc})
      # mingw-w64 GCC cannot realign the x86-64 stack beyond 16 bytes (its
      # unwind data has no way to say so), so an aligned move it made to a 32-
      # or 64-byte stack slot would fault. Rather than trust each compiler
      # version to avoid them, the assembler turns every aligned vector move
      # into its unaligned form, which costs nothing on aligned data; VEX and
      # EVEX arithmetic takes unaligned operands anyway.
      if(MINGW AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND options MATCHES "-mavx")
        list(APPEND options -Wa,-muse-unaligned-vector-move)
      endif()
    elseif(arch)
      continue()
    endif()
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

  set(generated ${PROJECT_BINARY_DIR}/generated)
  file(CONFIGURE OUTPUT ${generated}/KernelsBuilt.def CONTENT
    "// The rows of src/normalmap/Kernels.def this build compiles, copied by\n// cmake/QuarnelKernels.cmake; of ${count} rows in all.\n#define QUARNEL_KERNEL_ROWS ${count}\n${copied}"
    @ONLY)
  target_include_directories(${target} PRIVATE ${generated})
  set(QUARNEL_KERNELS ${built} PARENT_SCOPE)
  set(QUARNEL_FAST_KERNELS ${fast} PARENT_SCOPE)
  set(QUARNEL_ISA_KERNELS ${isa} PARENT_SCOPE)
endfunction()
