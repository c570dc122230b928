# Writes a chip file (INPUT) into a C++ source (OUTPUT) as the one string the
# function FUNCTION returns.
file(READ ${INPUT} text)
string(FIND "${text}" ")chips_json\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} holds the text that ends the embedded string")
endif()
get_filename_component(name ${INPUT} NAME)
file(WRITE ${OUTPUT}
  "// Generated from ${name} by EmbedChips.cmake; edit ${name}.\n"
  "#include <string_view>\n"
  "namespace velkor {\n"
  "std::string_view ${FUNCTION}()\n{\n    return R\"chips_json(${text})chips_json\";\n}\n"
  "}  // namespace velkor\n")
