# Writes the constant DeviceTable (OUTPUT, a C++ source) from the records of
# the device table (INPUT, table.json): one row per chip in the file's order,
# then the all-zero row that ends the search. velkor-check-chips has checked
# the file; this only copies its device-table fields.
file(READ ${INPUT} text)
string(JSON count LENGTH "${text}" chips)
math(EXPR last "${count} - 1")
set(rows "")
foreach(i RANGE ${last})
  string(JSON name GET "${text}" chips ${i} name)
  string(JSON signature GET "${text}" chips ${i} signature)
  string(SUBSTRING "${signature}" 3 2 high)
  string(SUBSTRING "${signature}" 6 2 low)
  string(JSON poll GET "${text}" chips ${i} no_poll_value)
  set(fields "")
  foreach(field flash sram eeprom pins)
    string(JSON value GET "${text}" chips ${i} ${field})
    list(APPEND fields ${value})
  endforeach()
  list(GET fields 0 flash)
  list(GET fields 1 sram)
  list(GET fields 2 eeprom)
  list(GET fields 3 pins)
  string(JSON page GET "${text}" chips ${i} page)
  # The FUSE figure: fuse_count where the record gives it, else its fuse bytes.
  string(JSON fuses ERROR_VARIABLE none GET "${text}" chips ${i} fuse_count)
  if(NOT none STREQUAL "NOTFOUND")
    string(JSON fuses LENGTH "${text}" chips ${i} fuses)
  endif()
  string(APPEND rows "    {0x${high}${low}, ${flash}, ${sram}, ${eeprom}, ${pins}, 0x${poll}, \"${name}\", ${page}, ${fuses}},\n")
endforeach()
file(WRITE ${OUTPUT}
  "// Generated from table.json by GenerateDeviceTable.cmake; edit table.json.\n"
  "#include \"DeviceTable.h\"\n"
  "namespace velkor {\n"
  "static_assert(kDeviceRows == ${count} + 1, \"table.json holds one chip per row of the device table\");\n"
  "const std::array<DEVTYPE, kDeviceRows> DeviceTable{{\n"
  "${rows}"
  "    {0, 0, 0, 0, 0, 0, \"\", 0, 0},\n"
  "}};\n"
  "}  // namespace velkor\n")
