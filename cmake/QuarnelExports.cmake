# What each module exports, per platform: a version script on ELF systems,
# Microsoft's names and an import library on Windows.

# The module's only export is CreateBumpMaps under its C++ name; on Windows
# that is the name Microsoft's compiler gives it, whichever compiler built it.
function(quarnel_module_exports target)
  if(WIN32)
    quarnel_windows_module(${target})
  else()
    quarnel_version_script(${target} ${PROJECT_SOURCE_DIR}/src/Quarnel.map)
  endif()
endfunction()

# An ELF module exports what its version script names, and nothing else.
function(quarnel_version_script target map)
  target_link_options(${target} PRIVATE "LINKER:--version-script=${map}")
  # Every symbol resolved at link time; a sanitized module leaves its runtime to the host.
  if(NOT QUARNEL_SANITIZE)
    target_link_options(${target} PRIVATE "LINKER:--no-undefined")
  endif()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
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
