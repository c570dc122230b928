# Runs the window program with a chip name no simulated target has.
execute_process(COMMAND ${PROGRAM} --simulate ATnothing99
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE error)
if(NOT status EQUAL 2)
  message(FATAL_ERROR "exit status ${status}, expected 2")
endif()
if(NOT error MATCHES "ATnothing99")
  message(FATAL_ERROR "standard error does not name the chip: '${error}'")
endif()
