# Puts the build where a user gets it, builds a tiny host against it with
# find_package(Quarnel) and, on Linux, with pkg-config, and runs the hosts,
# quarnel-convert and the Python package from there. PACKAGE says how:
#   install  cmake --install into a scratch prefix
#   TGZ      the release archive, unpacked
#   DEB      the .deb, unpacked with dpkg -x into a scratch root
#   ZIP      the Windows archive, unpacked into WORK_DIR/prefix; its files are
#            checked and the host configured with TOOLCHAIN
# A cross build (TOOLCHAIN, EMULATOR: '|' between its words) builds the hosts
# with its toolchain and runs them under the emulator, without the Python
# host; MACHINE is the module's ELF machine as readelf names it.
string(REPLACE "|" ";" EMULATOR "${EMULATOR}")
file(REMOVE_RECURSE ${WORK_DIR})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed:\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
set(license share/doc/Quarnel/LICENSE)
if(PACKAGE STREQUAL "install")
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
else()
  run(${CPACK} -G ${PACKAGE} --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}/package)
  file(GLOB package ${WORK_DIR}/package/*.tar.gz ${WORK_DIR}/package/*.deb ${WORK_DIR}/package/*.zip)
  if(PACKAGE STREQUAL "DEB")
    run(dpkg -x ${package} ${WORK_DIR}/root)
    set(prefix ${WORK_DIR}/root/usr)
  else()
    file(ARCHIVE_EXTRACT INPUT ${package} DESTINATION ${WORK_DIR}/unpacked)
    file(GLOB top ${WORK_DIR}/unpacked/Quarnel-${VERSION}-*)
    file(RENAME ${top} ${prefix})
  endif()
endif()
if(PACKAGE STREQUAL "ZIP")
  set(license LICENSE)
  foreach(f bin/Quarnel.dll bin/QuarnelBatch.dll bin/quarnel-convert.exe lib/Quarnel.lib include/Quarnel.h
      include/QuarnelBatch.h
      lib/cmake/Quarnel/QuarnelConfigVersion.cmake README.txt)
    if(NOT EXISTS ${prefix}/${f})
      message(FATAL_ERROR "${package} has no ${f}")
    endif()
  endforeach()
endif()
if(NOT EXISTS ${prefix}/${license})
  message(FATAL_ERROR "no ${license} in ${prefix}")
endif()
# The whole Python package, where the package's Python finds it.
set(python_dir lib/python3/dist-packages/quarnel)
if(PACKAGE STREQUAL "ZIP")
  set(python_dir python/quarnel)
endif()
file(GLOB python_files LIST_DIRECTORIES false RELATIVE ${SOURCE_DIR}/../../python/quarnel
  ${SOURCE_DIR}/../../python/quarnel/*)
foreach(f ${python_files})
  if(NOT EXISTS ${prefix}/${python_dir}/${f})
    message(FATAL_ERROR "no ${python_dir}/${f} in ${prefix}")
  endif()
endforeach()

# The consumer with two textures of its own, for its normal maps: copies of
# the bundled sample unless SAMPLE is given.
if(NOT SAMPLE)
  set(SAMPLE ${SOURCE_DIR}/../../examples/height.tga)
endif()
set(SRC ${WORK_DIR}/src)
set(BUILD ${WORK_DIR}/build)
file(COPY ${SOURCE_DIR}/ DESTINATION ${SRC})
file(MAKE_DIRECTORY ${SRC}/textures/sub)
file(COPY_FILE ${SAMPLE} ${SRC}/textures/a.tga)
file(COPY_FILE ${SAMPLE} ${SRC}/textures/sub/b.v2.tga)
if(PACKAGE STREQUAL "ZIP")
  # Configured only: the package must load, match the version exactly and
  # name files that are there. Quarnel.lib carries Microsoft's name for the
  # function, which this compiler's call to CreateBumpMaps does not ask for;
  # the maps are built under Wine by a test of their own.
  # Quarnel_DIR, since the toolchain looks for packages under its own root only.
  run(${CMAKE_COMMAND} -S ${SRC} -B ${BUILD} -G ${GENERATOR} -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
    -DQuarnel_DIR=${prefix}/lib/cmake/Quarnel -DCMAKE_BUILD_TYPE=Release -DQUARNEL_VERSION=${VERSION} -DQUARNEL_MAPS=ON)
  return()
endif()

if(MACHINE)
  run(readelf -h ${prefix}/lib/libQuarnel.so)
  if(NOT out MATCHES "Machine: +${MACHINE}\n")
    message(FATAL_ERROR "libQuarnel.so is not for ${MACHINE}:\n${out}")
  endif()
endif()

# The prefix is a root of a cross toolchain's search, so its files are found
# where they are.
set(cross)
if(TOOLCHAIN)
  set(cross -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_FIND_ROOT_PATH=${prefix})
endif()
run(${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${prefix}/lib/pkgconfig
  ${CMAKE_COMMAND} -S ${SRC} -B ${BUILD} -G ${GENERATOR} ${cross}
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release -DQUARNEL_VERSION=${VERSION} -DQUARNEL_MAPS=ON)
set(TARGET all)
set(MODULES ${prefix}/lib/libQuarnel.so ${prefix}/lib/libQuarnelBatch.so)
include(${CMAKE_CURRENT_LIST_DIR}/CheckNormalMaps.cmake)
foreach(host consumer consumer_pc)
  run(${EMULATOR} ${WORK_DIR}/build/${host} ${WORK_DIR}/${host}.tga)
  if(NOT EXISTS ${WORK_DIR}/${host}.tga)
    message(FATAL_ERROR "${host}: the module it linked wrote nothing")
  endif()
endforeach()

run(${EMULATOR} ${prefix}/bin/quarnel-convert --version)
if(NOT out STREQUAL "quarnel-convert ${VERSION}\n")
  message(FATAL_ERROR "quarnel-convert --version says: ${out}")
endif()
# Both hosts find the module on their own, from the folder they are in.
run(${EMULATOR} ${prefix}/bin/quarnel-convert --texel-size 0.0625 --out-dir ${WORK_DIR}/out ${SAMPLE})
set(results out/height_n.tga)
if(NOT EMULATOR)
  run(${CMAKE_COMMAND} -E env PYTHONPATH=${prefix}/lib/python3/dist-packages
    ${PYTHON} -m quarnel --texel-size 0.0625 ${SAMPLE} ${WORK_DIR}/py.tga)
  list(APPEND results py.tga)
endif()
foreach(result IN LISTS results)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/${result} ${EXPECTED} RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${result} differs from ${EXPECTED}")
  endif()
endforeach()
