# Compiler settings shared by the project's targets: warnings, exact floating
# point, and the library's own. What a module exports: QuarnelExports.cmake.

# C++ only: a target's version resource goes to a resource compiler, which
# takes none of these.
function(quarnel_warnings target)
  if(MSVC)
    # clang-cl's /W4 is -Wall -Wextra; it takes the GCC-style rest as it is.
    set(options /W4 $<$<BOOL:${QUARNEL_WERROR}>:/WX> $<$<CXX_COMPILER_ID:Clang>:-Wshadow>
      $<$<CXX_COMPILER_ID:Clang>:-Wconversion>)
  else()
    set(options -Wall -Wextra -Wshadow -Wconversion $<$<BOOL:${QUARNEL_WERROR}>:-Werror>)
  endif()
  target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${options}>")
endfunction()

# Floating point is part of the output: every byte of a normal map depends on
# each product being rounded where it is written. Contraction into fused
# multiply-adds, fast-math reassociation or x87 extended precision would change
# bytes, so all three are ruled out.
function(quarnel_exact_float target)
  if(MSVC)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
      # clang-cl's /fp:precise still contracts within an expression.
      target_compile_options(${target} PRIVATE /clang:-ffp-contract=off)
    else()
      # Visual Studio 2022 contracts only with /fp:contract; earlier versions
      # contract under /arch:AVX2 even with /fp:precise.
      target_compile_options(${target} PRIVATE /fp:precise)
    endif()
    if(CMAKE_CXX_COMPILER_ARCHITECTURE_ID STREQUAL "X86")
      target_compile_options(${target} PRIVATE /arch:SSE2)
    endif()
  else()
    target_compile_options(${target} PRIVATE -ffp-contract=off -fno-fast-math)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86|X86|AMD64|x86_64)$")
      target_compile_options(${target} PRIVATE -msse2 -mfpmath=sse)
    endif()
  endif()
endfunction()

function(quarnel_library_flags target)
  quarnel_warnings(${target})
  quarnel_exact_float(${target})
  # Nothing in the library throws: it uses malloc and stdio only. Building
  # without exceptions makes that a property the compiler checks.
  if(MSVC)
    target_compile_options(${target} PRIVATE /EHs-c-)
  else()
    target_compile_options(${target} PRIVATE -fno-exceptions)
  endif()
  # 32-bit Windows promises 4-byte stack alignment only, and hosts built with
  # Microsoft's compiler call in with just that. Legacy SSE instructions fault
  # on a misaligned 16-byte operand, so every function that keeps one on the
  # stack realigns it rather than trusting its caller.
  if(MINGW AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -mincoming-stack-boundary=2)
  endif()
endfunction()
