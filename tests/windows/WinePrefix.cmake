# Makes the build folder's Wine prefix once and waits until Wine has finished
# setting it up, so the tests after it start at once.
if(NOT EXISTS ${PREFIX}/system.reg)
  execute_process(COMMAND ${WINE} wineboot --init RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "wineboot --init failed (${rc}) for ${PREFIX}")
  endif()
endif()
execute_process(COMMAND ${WINESERVER} -w RESULT_VARIABLE rc)
if(NOT EXISTS ${PREFIX}/system.reg)
  message(FATAL_ERROR "no Wine prefix at ${PREFIX}")
endif()
# A share for the long UNC path case: Wine resolves \\quarnel\share through
# dosdevices/unc, here to drive C:.
file(MAKE_DIRECTORY ${PREFIX}/dosdevices/unc/quarnel)
file(CREATE_LINK ../../../drive_c ${PREFIX}/dosdevices/unc/quarnel/share SYMBOLIC)
