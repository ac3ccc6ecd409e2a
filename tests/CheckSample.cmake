# The example host with no arguments converts the bundled sample and says where
# the result went; the result is the committed normal map.
# EMULATOR runs a cross-built host (Wine); PRINTED is the output path as the
# host spells it, when that differs from OUTPUT.
if(NOT DEFINED PRINTED)
  set(PRINTED ${OUTPUT})
endif()
file(REMOVE ${OUTPUT})
execute_process(COMMAND ${EMULATOR} ${CONVERT} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT out MATCHES "written to ${PRINTED}")
  message(FATAL_ERROR "quarnel-convert failed (${rc}): ${out}")
endif()
file(SHA256 ${OUTPUT} got)
file(SHA256 ${EXPECTED} want)
if(NOT got STREQUAL want)
  message(FATAL_ERROR "${OUTPUT} differs from ${EXPECTED}")
endif()
