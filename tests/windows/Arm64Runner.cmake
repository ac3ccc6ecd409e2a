# ARM64: the DLL run under arm64 Wine and qemu-aarch64 (.ci/arm64-wine.sh).
# A C host (Arm64Runner.cpp) is built beside Quarnel.dll with its own
# import libraries, and the Linux suite's ModuleArm64 test, from the default
# build (QUARNEL_ARM64_CHECKER), runs it over the shared tables and compares
# maps and messages with the Linux module's: build that first. A skip where
# arm64 Wine cannot be set up (exit status 77) or that build is missing.
set(QUARNEL_ARM64_CHECKER "" CACHE FILEPATH "quarnel_module_tests of a Linux build, to check this DLL with")

set(dir ${CMAKE_CURRENT_BINARY_DIR}/arm64-runner)
set(runner ${PROJECT_BINARY_DIR}/quarnel_arm64_runner.exe)  # beside Quarnel.dll, which it loads
set(flags --target=aarch64-pc-windows-msvc /nologo /X /GS- /O2 /W4 "/imsvc${QUARNEL_WINE_INCLUDE}/msvcrt"
  "/imsvc${QUARNEL_WINE_INCLUDE}/windows" -DWINE_UNICODE_NATIVE
  -D_InterlockedCompareExchange128=wine_InterlockedCompareExchange128
  /I${PROJECT_SOURCE_DIR}/include /I${PROJECT_SOURCE_DIR}/src/engine)
if(QUARNEL_WERROR)
  list(APPEND flags /WX)
endif()
set(inputs "")
foreach(source ${CMAKE_CURRENT_SOURCE_DIR}/Arm64Runner.cpp ${PROJECT_SOURCE_DIR}/src/engine/ImportPatch.cpp)
  get_filename_component(name ${source} NAME_WE)
  add_custom_command(OUTPUT ${dir}/${name}.obj
    COMMAND ${CMAKE_CXX_COMPILER} ${flags} /c /Fo${dir}/${name}.obj -- ${source}
    DEPENDS ${source} ${PROJECT_SOURCE_DIR}/src/engine/ImportPatch.h ${PROJECT_SOURCE_DIR}/include/Quarnel.h
    VERBATIM)
  list(APPEND inputs ${dir}/${name}.obj)
endforeach()
foreach(def kernel32 msvcrt)
  add_custom_command(OUTPUT ${dir}/lib${def}.a
    COMMAND ${QUARNEL_LLVM_DLLTOOL} -m arm64 -d ${CMAKE_CURRENT_SOURCE_DIR}/arm64-imports/${def}.def
      -l ${dir}/lib${def}.a
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/arm64-imports/${def}.def VERBATIM)
  list(APPEND inputs ${dir}/lib${def}.a)
endforeach()
add_custom_command(OUTPUT ${runner}
  COMMAND ${CMAKE_LINKER} /nologo /machine:arm64 /subsystem:console /entry:RunnerMain /nodefaultlib
    /out:${runner} ${inputs}
  DEPENDS ${inputs} VERBATIM)
add_custom_target(quarnel_arm64_runner ALL DEPENDS ${runner})

add_test(NAME arm64_dll_under_wine_converts_and_reports_as_linux
  COMMAND sh -c "[ -x \"$0\" ] || { echo \"no $0: build the default preset first\"; exit 77; }; exec \"$0\" \"$@\""
    ${QUARNEL_ARM64_CHECKER} --gtest_filter=ModuleArm64.*)
set_tests_properties(arm64_dll_under_wine_converts_and_reports_as_linux PROPERTIES
  ENVIRONMENT "QUARNEL_ARM64_WINE=${PROJECT_SOURCE_DIR}/.ci/arm64-wine.sh;QUARNEL_ARM64_RUNNER=${runner}"
  SKIP_RETURN_CODE 77 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\] ModuleArm64" TIMEOUT 180)
