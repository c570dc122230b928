# Runs the window program with ARGS (separated by spaces) and expects a usage error: exit
# status 2 and a message on standard error that holds EXPECT.
separate_arguments(args UNIX_COMMAND "${ARGS}")
execute_process(COMMAND ${PROGRAM} ${args}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE error)
if(NOT status EQUAL 2)
  message(FATAL_ERROR "exit status ${status}, expected 2")
endif()
if(NOT error MATCHES "${EXPECT}")
  message(FATAL_ERROR "standard error does not say '${EXPECT}': '${error}'")
endif()
