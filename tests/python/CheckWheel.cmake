# A build's wheel: its name and tag, its files (every file of the package,
# byte for byte, the modules the build's tests run, for the machine the tag names,
# and the licence), and, with VENV_PYTHON, the wheel installed offline into a
# fresh virtual environment, where python -m quarnel, finding the modules
# beside itself, converts a tree as quarnel-convert (CONVERT) does: the same
# maps, lines, summary and status.
#   -DWHEEL= -DPLATFORM= -DVERSION= -DPACKAGE=<python/quarnel> -DMODULES=<'|' between> -DWORK_DIR=
#   [-DVENV_PYTHON= -DCONVERT= -DSAMPLE= -DEXPECTED=]
string(REPLACE "|" ";" MODULES "${MODULES}")
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${rc}):\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()
set(same ${CMAKE_COMMAND} -E compare_files)

file(REMOVE_RECURSE ${WORK_DIR})
file(ARCHIVE_EXTRACT INPUT ${WHEEL} DESTINATION ${WORK_DIR}/wheel)
set(info quarnel-${VERSION}.dist-info)
set(expected ${info}/LICENSE ${info}/METADATA ${info}/RECORD ${info}/WHEEL ${info}/top_level.txt)
file(GLOB files LIST_DIRECTORIES false RELATIVE ${PACKAGE} ${PACKAGE}/*)
foreach(file ${files})
  list(APPEND expected quarnel/${file})
  run(${same} ${WORK_DIR}/wheel/quarnel/${file} ${PACKAGE}/${file})
endforeach()

# Each module is the build's, for the machine the tag names: ELF's e_machine,
# or PE's Machine at the offset the DOS header gives.
set(machine_linux_x86_64 3e00)
set(machine_linux_aarch64 b700)
set(machine_win_amd64 6486)
set(machine_win32 4c01)
foreach(module ${MODULES})
  get_filename_component(name ${module} NAME)
  list(APPEND expected quarnel/${name})
  set(packed ${WORK_DIR}/wheel/quarnel/${name})
  run(${same} ${packed} ${module})
  set(at 18)
  if(PLATFORM MATCHES "^win")
    file(READ ${packed} pe HEX OFFSET 60 LIMIT 4)
    string(REGEX REPLACE "(..)(..)(..)(..)" "0x\\4\\3\\2\\1" pe ${pe})
    math(EXPR at "${pe} + 4")
  endif()
  file(READ ${packed} machine HEX OFFSET ${at} LIMIT 2)
  if(NOT machine STREQUAL "${machine_${PLATFORM}}")
    message(FATAL_ERROR "${name} is for machine ${machine}, not ${PLATFORM}'s ${machine_${PLATFORM}}")
  endif()
endforeach()
file(GLOB_RECURSE found RELATIVE ${WORK_DIR}/wheel ${WORK_DIR}/wheel/*)
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "the wheel holds\n${found}\nnot\n${expected}")
endif()
file(READ ${WORK_DIR}/wheel/${info}/WHEEL tags)
if(NOT tags MATCHES "\nRoot-Is-Purelib: false\n" OR NOT tags MATCHES "\nTag: py3-none-${PLATFORM}\n"
   OR NOT WHEEL MATCHES "/quarnel-${VERSION}-py3-none-${PLATFORM}\\.whl$")
  message(FATAL_ERROR "${WHEEL} is tagged\n${tags}")
endif()
if(NOT VENV_PYTHON)
  return()
endif()

# Installed as a user installs it, with no index and nothing of the build's
# on the path: the package finds the modules beside itself.
run(${VENV_PYTHON} -m venv ${WORK_DIR}/venv)
set(python ${CMAKE_COMMAND} -E env --unset=PYTHONPATH PIP_DISABLE_PIP_VERSION_CHECK=1 ${WORK_DIR}/venv/bin/python)
run(${python} -m pip install --no-index ${WHEEL})
run(${python} -c "from quarnel._engine import engine\nprint(engine().path)")
if(NOT out MATCHES "^${WORK_DIR}/venv/lib/[^\n]*/site-packages/quarnel/libQuarnelBatch.so\n$")
  message(FATAL_ERROR "the installed package loaded ${out}")
endif()
file(MAKE_DIRECTORY ${WORK_DIR}/tree/sub)
file(COPY_FILE ${SAMPLE} ${WORK_DIR}/tree/a.tga)
file(COPY_FILE ${SAMPLE} ${WORK_DIR}/tree/sub/b.v2.tga)
file(WRITE ${WORK_DIR}/tree/bad.tga "")
set(command_python ${python} -m quarnel)
set(command_convert ${CONVERT})
foreach(host python convert)
  execute_process(COMMAND ${command_${host}} --texel-size 0.0625 --out-dir out-${host} tree WORKING_DIRECTORY ${WORK_DIR}
    RESULT_VARIABLE rc_${host} OUTPUT_VARIABLE out_${host} ERROR_VARIABLE err_${host})
  file(GLOB_RECURSE maps_${host} RELATIVE ${WORK_DIR}/out-${host} ${WORK_DIR}/out-${host}/*)
endforeach()
string(REPLACE "quarnel-convert: " "quarnel: " err_convert "${err_convert}")
if(NOT rc_python EQUAL rc_convert OR NOT out_python STREQUAL out_convert OR NOT err_python STREQUAL err_convert
   OR NOT maps_python STREQUAL maps_convert OR NOT rc_python EQUAL 1)
  message(FATAL_ERROR "python -m quarnel (${rc_python}):\n${out_python}${err_python}${maps_python}\n"
    "quarnel-convert (${rc_convert}):\n${out_convert}${err_convert}${maps_convert}")
endif()
run(${same} ${WORK_DIR}/out-python/a_n.tga ${EXPECTED})
foreach(map ${maps_python})
  run(${same} ${WORK_DIR}/out-python/${map} ${WORK_DIR}/out-convert/${map})
endforeach()
