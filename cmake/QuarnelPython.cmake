# The Python package (python/quarnel): copied beside the build's modules as
# python/quarnel, which finds them two folders up; installed with the
# packages (QuarnelInstall.cmake); and made into a wheel that carries the
# modules, by the target python-wheel:
#   cmake --build build --target python-wheel   # build/dist/quarnel-<version>-py3-none-<platform>.whl
set(QUARNEL_PYTHON_FILES __init__.py __main__.py _batch.py _engine.py _results.py _scale.py py.typed)
foreach(file ${QUARNEL_PYTHON_FILES})
  configure_file(python/quarnel/${file} ${PROJECT_BINARY_DIR}/python/quarnel/${file} COPYONLY)
endforeach()

# The platform tag pip knows the modules' platform by. linux_<machine>, not
# manylinux: a manylinux tag promises the libraries and symbol versions
# auditwheel checks, which this build does not run; pip installs a linux_
# wheel from a file on any Linux of its machine, as an offline install does.
set(QUARNEL_WHEEL_PLATFORM)
if(WIN32 AND QUARNEL_ARCH STREQUAL "x86_64")
  set(QUARNEL_WHEEL_PLATFORM win_amd64)
elseif(WIN32 AND QUARNEL_ARCH STREQUAL "x86")
  set(QUARNEL_WHEEL_PLATFORM win32)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND QUARNEL_ARCH MATCHES "^(x86_64|aarch64)$")
  set(QUARNEL_WHEEL_PLATFORM linux_${QUARNEL_ARCH})
endif()

# A Python of the build machine that builds wheels (Debian's python3-build,
# python3-setuptools, python3-wheel); the first python3 on the path may not.
function(quarnel_builds_wheels result python)
  execute_process(COMMAND ${python} -c "import build, setuptools.build_meta, wheel"
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()
find_program(QUARNEL_WHEEL_PYTHON NAMES python3 python VALIDATOR quarnel_builds_wheels
  DOC "a Python with build, setuptools and wheel, for the target python-wheel")

set(QUARNEL_WHEEL)
if(QUARNEL_WHEEL_PLATFORM AND QUARNEL_WHEEL_PYTHON)
  set(QUARNEL_WHEEL ${PROJECT_BINARY_DIR}/dist/quarnel-${PROJECT_VERSION}-py3-none-${QUARNEL_WHEEL_PLATFORM}.whl)
  list(TRANSFORM QUARNEL_PYTHON_FILES PREPEND ${PROJECT_SOURCE_DIR}/python/quarnel/ OUTPUT_VARIABLE sources)
  add_custom_command(OUTPUT ${QUARNEL_WHEEL}
    COMMAND ${CMAKE_COMMAND} -DPYTHON=${QUARNEL_WHEEL_PYTHON} -DSOURCE=${PROJECT_SOURCE_DIR}
      "-DFILES=${QUARNEL_PYTHON_FILES}" "-DMODULES=$<TARGET_FILE:Quarnel>;$<TARGET_FILE:QuarnelBatch>"
      -DSTAGE=${PROJECT_BINARY_DIR}/wheel -DWHEEL=${QUARNEL_WHEEL} -DVERSION=${PROJECT_VERSION}
      -DPLATFORM=${QUARNEL_WHEEL_PLATFORM} -P ${PROJECT_SOURCE_DIR}/cmake/QuarnelWheel.cmake
    DEPENDS ${sources} python/pyproject.toml python/setup.py LICENSE cmake/QuarnelWheel.cmake Quarnel QuarnelBatch
    COMMENT "Python wheel ${QUARNEL_WHEEL}" VERBATIM)
  add_custom_target(python-wheel DEPENDS ${QUARNEL_WHEEL})
else()
  set(why "no Python here has build, setuptools and wheel (python3-build python3-setuptools python3-wheel)")
  if(NOT QUARNEL_WHEEL_PLATFORM)
    set(why "no wheel platform for ${CMAKE_SYSTEM_NAME} on ${QUARNEL_ARCH}")
  endif()
  add_custom_target(python-wheel COMMAND ${CMAKE_COMMAND} -E echo "python-wheel: ${why}"
    COMMAND ${CMAKE_COMMAND} -E false VERBATIM)
endif()
