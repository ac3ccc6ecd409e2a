# Lays python/ out in STAGE with the package FILES, the MODULES, the licence
# and a setup.cfg of VERSION and PLATFORM, and builds WHEEL from it with
# PYTHON (no network, no isolation: the build machine's setuptools).
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/quarnel)
foreach(file pyproject.toml setup.py)
  file(COPY_FILE ${SOURCE}/python/${file} ${STAGE}/${file})
endforeach()
file(COPY_FILE ${SOURCE}/LICENSE ${STAGE}/LICENSE)
foreach(file ${FILES})
  file(COPY_FILE ${SOURCE}/python/quarnel/${file} ${STAGE}/quarnel/${file})
endforeach()
foreach(module ${MODULES})
  get_filename_component(name ${module} NAME)
  file(COPY_FILE ${module} ${STAGE}/quarnel/${name})
endforeach()
file(WRITE ${STAGE}/setup.cfg "[metadata]\nversion = ${VERSION}\n\n[bdist_wheel]\nplat_name = ${PLATFORM}\n")

# Only this wheel of its platform in the folder, so dist/quarnel-*.whl names one.
get_filename_component(dist ${WHEEL} DIRECTORY)
file(GLOB older ${dist}/quarnel-*-py3-none-${PLATFORM}.whl)
if(older)
  file(REMOVE ${older})
endif()
execute_process(COMMAND ${PYTHON} -m build --no-isolation --wheel --outdir ${dist} ${STAGE}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT EXISTS ${WHEEL})
  message(FATAL_ERROR "${PYTHON} -m build made no ${WHEEL} (${rc}):\n${out}")
endif()
