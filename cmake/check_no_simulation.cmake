# Fails when the program FILE carries any symbol of the tests' simulation
# (tests/sim): every control it offers the tests is named Host...
execute_process(COMMAND ${NM} -C ${FILE} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} could not read ${FILE}")
endif()
string(REGEX MATCHALL "[^\n]* Host[A-Z][A-Za-z]*[^\n]*" found "${symbols}")
if(found)
  list(JOIN found "\n" shown)
  message(FATAL_ERROR "${FILE} links the test simulation:\n${shown}")
endif()
message(STATUS "${FILE}: no simulation code")
