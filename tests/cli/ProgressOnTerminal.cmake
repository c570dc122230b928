# velkor-cli shows its progress on standard error when that is a terminal
# (script gives it one) and writes nothing there in a pipe.
set(command "${PROGRAM} --simulate ATmega8 write ${HEXFILE}")
execute_process(COMMAND ${SCRIPT} -qec "${command} >/dev/null" /dev/null
                RESULT_VARIABLE status OUTPUT_VARIABLE terminal)
if(NOT status EQUAL 0 OR NOT terminal MATCHES "write 100% of the flash")
  message(FATAL_ERROR "status ${status}, on the terminal: '${terminal}'")
endif()
execute_process(COMMAND ${PROGRAM} --simulate ATmega8 write ${HEXFILE}
                RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE piped)
if(NOT status EQUAL 0 OR NOT piped STREQUAL "" OR NOT log MATCHES "---done.---")
  message(FATAL_ERROR "status ${status}, standard error in a pipe: '${piped}'")
endif()
