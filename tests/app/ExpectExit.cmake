# Runs the window program with ARGS (separated by spaces) and expects exit
# status STATUS and, on STREAM (output or error), a text that holds EXPECT.
separate_arguments(args UNIX_COMMAND "${ARGS}")
execute_process(COMMAND ${PROGRAM} ${args}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE error)
if(NOT status EQUAL STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${STATUS}: '${output}' '${error}'")
endif()
if(NOT ${STREAM} MATCHES "${EXPECT}")
  message(FATAL_ERROR "standard ${STREAM} does not say '${EXPECT}': '${${STREAM}}'")
endif()
