# Renders DRAWING with rsvg-convert; any message on standard error fails.
execute_process(COMMAND ${RSVG_CONVERT} ${DRAWING} -o ${OUTPUT}
                RESULT_VARIABLE status ERROR_VARIABLE error)
if(NOT status EQUAL 0 OR NOT error STREQUAL "")
  message(FATAL_ERROR "rsvg-convert exit status ${status}: ${error}")
endif()
