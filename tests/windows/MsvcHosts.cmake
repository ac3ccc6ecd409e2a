# Hosts built the way Microsoft's toolchain builds them: clang in Microsoft's
# ABI, Wine's headers and import libraries standing in for the SDK, lld-link
# for the linker. One links Quarnel.lib, one loads Quarnel.dll at run time
# (MsvcHost.cpp); msvc_hosts lists them for the Wine tests. A link with
# lld-link's defaults proves Quarnel.lib is what Microsoft's linker accepts,
# /SAFESEH on x86 included.
if(NOT CMAKE_CROSSCOMPILING)
  return()
endif()
find_program(QUARNEL_MSVC_CXX NAMES clang++ clang++-14)
find_program(QUARNEL_LLD_LINK NAMES lld-link lld-link-14)
find_path(QUARNEL_WINE_INCLUDE windows/windows.h PATHS /usr/include/wine/wine /usr/local/include/wine/wine
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(msvc_target x86_64-pc-windows-msvc)
  set(msvc_machine x64)
  set(export "?CreateBumpMaps@@YAXPEAUSCreateBumpMap@@H@Z")
  set(wine_libs x86_64-linux-gnu/wine/x86_64-windows wine/x86_64-windows)
  # Wine's winnt.h defines these as inline functions; clang in Microsoft's
  # mode has them as builtins, so they get other names.
  set(wine_inlines CompareExchange128)
else()
  set(msvc_target i686-pc-windows-msvc)
  set(msvc_machine x86)
  set(export "?CreateBumpMaps@@YAXPAUSCreateBumpMap@@H@Z")
  set(wine_libs i386-linux-gnu/wine/i386-windows wine/i386-windows)
  set(wine_inlines And64 CompareExchangePointer ExchangeAdd64 ExchangePointer Increment64 Decrement64
    Or64 Xor64)
endif()
# QUARNEL_WINE_ROOT: a folder Wine's packages were unpacked into, searched first.
set(wine_roots /usr/lib /usr/local/lib /usr/lib64)
if(QUARNEL_WINE_ROOT)
  list(PREPEND wine_roots ${QUARNEL_WINE_ROOT}/usr/lib)
endif()
find_path(QUARNEL_WINE_LIBS libwinecrt0.a PATHS ${wine_roots} PATH_SUFFIXES ${wine_libs}
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)

set(found OFF)
if(QUARNEL_MSVC_CXX AND QUARNEL_LLD_LINK AND QUARNEL_WINE_INCLUDE AND QUARNEL_WINE_LIBS)
  set(found ON)
endif()
option(QUARNEL_MSVC_HOSTS "Build hosts in Microsoft's ABI (clang, lld-link, Wine's SDK) and test them" ${found})
if(NOT QUARNEL_MSVC_HOSTS)
  return()
endif()
if(NOT found)
  message(FATAL_ERROR "QUARNEL_MSVC_HOSTS needs clang++, lld-link and Wine's headers and ${msvc_machine} "
    "import libraries (libwine-dev); found: ${QUARNEL_MSVC_CXX} ${QUARNEL_LLD_LINK} ${QUARNEL_WINE_INCLUDE} "
    "${QUARNEL_WINE_LIBS}")
endif()

set(flags --target=${msvc_target} -nostdlibinc -isystem ${QUARNEL_WINE_INCLUDE}/msvcrt
  -isystem ${QUARNEL_WINE_INCLUDE}/windows -I${PROJECT_SOURCE_DIR}/include -I${PROJECT_SOURCE_DIR}/src/engine -O2
  -Wall -Wextra -Wshadow -Wconversion)
if(QUARNEL_WERROR)
  list(APPEND flags -Werror)
endif()
foreach(name IN LISTS wine_inlines)
  list(APPEND flags -D_Interlocked${name}=wine_Interlocked${name})
endforeach()
set(sdk ${QUARNEL_WINE_LIBS}/libucrtbase.a ${QUARNEL_WINE_LIBS}/libkernel32.a ${QUARNEL_WINE_LIBS}/libwinecrt0.a)
# Wine's own x86 import libraries carry no safe-exception-handler mark, so a
# runnable x86 host links with /safeseh:no; the link check below has no such
# library in it and keeps the default.
set(link_flags /nologo /entry:mainCRTStartup /nodefaultlib)
if(msvc_machine STREQUAL "x86")
  list(APPEND link_flags /safeseh:no)
endif()

set(dir ${CMAKE_CURRENT_BINARY_DIR}/msvc)
set(patch_obj ${dir}/ImportPatch.obj)
add_custom_command(OUTPUT ${patch_obj}
  COMMAND ${QUARNEL_MSVC_CXX} ${flags} -c ${PROJECT_SOURCE_DIR}/src/engine/ImportPatch.cpp -o ${patch_obj}
  DEPENDS ${PROJECT_SOURCE_DIR}/src/engine/ImportPatch.cpp ${PROJECT_SOURCE_DIR}/src/engine/ImportPatch.h VERBATIM)
set(msvc_hosts "")
foreach(kind linked loaded)
  set(exe ${PROJECT_BINARY_DIR}/quarnel_msvc_${kind}_host.exe)
  set(obj ${dir}/MsvcHost-${kind}.obj)
  set(define "")
  set(lib $<TARGET_LINKER_FILE:Quarnel>)
  if(kind STREQUAL "loaded")
    set(define -DQUARNEL_LOAD_AT_RUN_TIME)
    set(lib "")
  endif()
  add_custom_command(OUTPUT ${exe}
    COMMAND ${QUARNEL_MSVC_CXX} ${flags} ${define} -c ${CMAKE_CURRENT_SOURCE_DIR}/MsvcHost.cpp -o ${obj}
    COMMAND ${QUARNEL_LLD_LINK} ${link_flags} /out:${exe} ${obj} ${patch_obj} ${sdk} ${lib}
    DEPENDS MsvcHost.cpp ${PROJECT_SOURCE_DIR}/src/engine/ImportPatch.h ${PROJECT_SOURCE_DIR}/include/Quarnel.h ${patch_obj} Quarnel
    BYPRODUCTS ${obj} VERBATIM)
  list(APPEND msvc_hosts ${exe})
endforeach()
add_custom_target(quarnel_msvc_hosts ALL DEPENDS ${msvc_hosts})

# Only the import library and lld-link's defaults, with the machine named
# because an import library alone does not say it.
add_test(NAME windows_import_library_links_with_defaults
  COMMAND ${QUARNEL_LLD_LINK} /nologo /dll /noentry /nodefaultlib /machine:${msvc_machine} /include:${export}
    /out:${dir}/LinkCheck.dll $<TARGET_LINKER_FILE:Quarnel>)
