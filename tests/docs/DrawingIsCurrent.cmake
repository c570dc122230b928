# Fails when DRAWING differs from what `CLI cables --svg built-in` draws.
execute_process(COMMAND ${CLI} cables --svg built-in OUTPUT_VARIABLE drawn RESULT_VARIABLE status)
file(READ ${DRAWING} kept)
if(NOT status EQUAL 0 OR NOT drawn STREQUAL kept)
  message(FATAL_ERROR "${DRAWING} is not what velkor-cli cables --svg built-in draws: redraw it (see HACKING.md)")
endif()
