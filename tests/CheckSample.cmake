# quarnel-convert (or python -m quarnel) converts the bundled sample to the
# committed normal map.
# CONVERT is the host ('|' between the words of a command); EMULATOR runs a
# cross-built one (Wine, qemu-aarch64; '|'-separated too). Without ARGS the host converts the sample by itself
# and says where the result went (PRINTED, the output path as the host
# spells it, when that differs from OUTPUT); ARGS ('|'-separated) are given
# to it instead. With OUT_DIR, quarnel-convert's --out-dir form is checked too.
string(REPLACE "|" ";" CONVERT "${CONVERT}")
string(REPLACE "|" ";" ARGS "${ARGS}")
string(REPLACE "|" ";" EMULATOR "${EMULATOR}")
if(NOT DEFINED PRINTED)
  set(PRINTED ${OUTPUT})
endif()
function(expect_expected file)
  file(SHA256 ${file} got)
  file(SHA256 ${EXPECTED} want)
  if(NOT got STREQUAL want)
    message(FATAL_ERROR "${file} differs from ${EXPECTED}")
  endif()
endfunction()

file(REMOVE ${OUTPUT})
execute_process(COMMAND ${EMULATOR} ${CONVERT} ${ARGS} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR (NOT ARGS AND NOT out MATCHES "written to ${PRINTED}"))
  message(FATAL_ERROR "${CONVERT} failed (${rc}): ${out}${err}")
endif()
expect_expected(${OUTPUT})

if(NOT DEFINED OUT_DIR)
  return()
endif()
# A missing source and one the module refuses fail the run and leave the
# older files of their destinations as they were, the refused one's of the
# very size the module would write; the sample is still converted. Each
# failure is named once, by the module's message, and nothing else is said.
file(REMOVE_RECURSE ${OUT_DIR})
file(MAKE_DIRECTORY ${OUT_DIR})
# 32 bits a pixel, 257 x 257, a one-byte ID field: no zero byte to write.
string(ASCII 1 3 2 1 1 1 1 1 1 1 1 1 1 1 1 1 32 8 1 refused)
file(WRITE ${OUT_DIR}/refused.tga "${refused}")
math(EXPR size "18 + 1 + 3 * 257 * 257")
string(REPEAT "o" ${size} older)
file(WRITE ${OUT_DIR}/refused_n.tga "${older}")
# Run on a display, a message box would wait for a click until the timeout.
execute_process(COMMAND ${EMULATOR} ${CONVERT} -j 2 --texel-size 0.0625 --out-dir ${OUT_DIR} ${OUT_DIR}/missing.tga
  ${OUT_DIR}/refused.tga ${SAMPLE} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 120)
file(READ ${OUT_DIR}/refused_n.tga after)
string(REGEX MATCHALL "\n" lines "${err}")
list(LENGTH lines lines)
if(NOT rc EQUAL 1 OR NOT out MATCHES "^\\[1/3\\] [^\n]*missing.tga\r?\n\\[2/3\\] [^\n]*refused.tga\r?\n\\[3/3\\] [^\n]*height.tga\r?\n1 converted, 0 skipped, 2 failed\r?\n$"
   OR NOT lines EQUAL 2 OR NOT err MATCHES "(^|\n)quarnel-convert: Cant open '[^\n]*missing.tga' for reading\r?\n"
   OR NOT err MATCHES "(^|\n)quarnel-convert: '[^\n]*refused.tga' tgaHeader.pixsize!=24 \\(pixsize==32\\)\r?\n"
   OR EXISTS ${OUT_DIR}/missing_n.tga OR NOT after STREQUAL older)
  message(FATAL_ERROR "--out-dir with failing sources (${rc}): ${out}${err}")
endif()
expect_expected(${OUT_DIR}/height_n.tga)
# Written again at once, the same destination counts as written; the pair
# form fails as the other does.
execute_process(COMMAND ${EMULATOR} ${CONVERT} --out-dir ${OUT_DIR} ${SAMPLE} RESULT_VARIABLE rc)
execute_process(COMMAND ${EMULATOR} ${CONVERT} ${OUT_DIR}/refused.tga ${OUT_DIR}/pair.tga
  OUTPUT_VARIABLE out RESULT_VARIABLE pair_rc)
if(NOT rc EQUAL 0 OR NOT pair_rc EQUAL 1 OR NOT out MATCHES "0 converted, 0 skipped, 1 failed")
  message(FATAL_ERROR "--out-dir over its own output (${rc}), the pair form with a refused source (${pair_rc}): ${out}")
endif()
