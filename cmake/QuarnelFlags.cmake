# Compiler and linker settings shared by every target of the project.

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

# The module's only export is CreateBumpMaps under its C++ name; on Windows
# that is the name Microsoft's compiler gives it, whichever compiler built it.
function(quarnel_module_exports target)
  if(WIN32)
    quarnel_windows_module(${target})
  else()
    target_link_options(${target} PRIVATE "LINKER:--version-script=${PROJECT_SOURCE_DIR}/src/Quarnel.map")
    # Every symbol resolved at link time; a sanitized module leaves its runtime to the host.
    if(NOT QUARNEL_SANITIZE)
      target_link_options(${target} PRIVATE "LINKER:--no-undefined")
    endif()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/src/Quarnel.map)
  endif()
endfunction()

# Quarnel.dll: exports only the decorated name, imports only system DLLs, and
# comes with an import library (Quarnel.lib) that a host built with
# Microsoft's compiler links.
function(quarnel_windows_module target)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(arch x64)
    set(export "?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z")
  else()
    set(arch x86)
    set(export "?CreateBumpMaps@@YAXPAUSCreateBumpMap@@H@Z")
  endif()
  set(def ${PROJECT_SOURCE_DIR}/src/Quarnel-${arch}.def)
  set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".lib")
  target_link_libraries(${target} PRIVATE user32)
  if(MSVC)
    # Here the compiler's own name is the export's; nothing to alias. The
    # map (Quarnel.map) shows which kernels the module holds.
    target_link_options(${target} PRIVATE "/EXPORT:${export}" /MAP)
  else()
    # The .def aliases the GNU-mangled function to the export name and, being
    # there, stops the linker from exporting anything else. -static links
    # libgcc, libstdc++ and (for posix-thread compilers) winpthread into the
    # module, so no mingw runtime DLL has to travel with it.
    target_sources(${target} PRIVATE ${def})
    target_link_options(${target} PRIVATE -static)
    # The linker's import library gives 32-bit names a leading underscore
    # (__imp__?CreateBumpMaps...), which Microsoft's linker would not find, so
    # a dlltool writes it again with the names as that linker spells them.
    # llvm-dlltool writes short import members as Microsoft's lib.exe does;
    # binutils' dlltool writes object files without the safe-exception-handler
    # mark, which a 32-bit link with /SAFESEH (its default there) refuses.
    find_program(QUARNEL_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
    if(QUARNEL_LLVM_DLLTOOL)
      if(arch STREQUAL "x64")
        set(machine i386:x86-64)
      else()
        set(machine i386)
      endif()
      set(dlltool ${QUARNEL_LLVM_DLLTOOL} -m ${machine})
    else()
      if(arch STREQUAL "x86")
        message(WARNING "no llvm-dlltool: the x86 Quarnel.lib will not link with /SAFESEH")
      endif()
      set(dlltool ${CMAKE_DLLTOOL})
      if(NOT dlltool)
        string(REGEX REPLACE "g\\+\\+(-[a-z0-9]+)?$" "dlltool" dlltool "${CMAKE_CXX_COMPILER}")
      endif()
      list(APPEND dlltool --no-leading-underscore)
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${dlltool} -d ${def} -D Quarnel.dll -l $<TARGET_LINKER_FILE:${target}>
      VERBATIM)
  endif()
endfunction()
