# Writes the chip catalogue (INPUT) into a C++ source (OUTPUT) as one string.
file(READ ${INPUT} text)
string(FIND "${text}" ")chips_json\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} holds the text that ends the embedded string")
endif()
file(WRITE ${OUTPUT}
  "// Generated from chips.json by EmbedChips.cmake; edit chips.json.\n"
  "#include <string_view>\n"
  "namespace velkor {\n"
  "std::string_view BuiltInChipsText()\n{\n    return R\"chips_json(${text})chips_json\";\n}\n"
  "}  // namespace velkor\n")
