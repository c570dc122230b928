# The Debian package: man pages, the documentation folder, and CPack's DEB
# settings. scripts/package.sh builds it; so does "cpack -G DEB" in a build
# configured with CMAKE_INSTALL_PREFIX=/usr.

set(VELKOR_MAINTAINER "Velkor developers <velkor@example.org>")
set(VELKOR_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/velkor)

# Debian installs man pages and changelogs gzipped, without time stamps (-n),
# so the same sources give the same package.
function(velkor_gzipped_file template installDir)
  get_filename_component(name ${template} NAME)
  set(plain ${CMAKE_BINARY_DIR}/packaging/${name})
  configure_file(${template} ${plain} @ONLY)
  add_custom_command(OUTPUT ${plain}.gz
                     COMMAND gzip -9nf -k ${plain}
                     DEPENDS ${plain}
                     COMMENT "Compressing ${name}")
  set_property(GLOBAL APPEND PROPERTY VELKOR_GZIPPED_FILES ${plain}.gz)
  install(FILES ${plain}.gz DESTINATION ${installDir})
endfunction()

string(TIMESTAMP VELKOR_CHANGELOG_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
velkor_gzipped_file(${PROJECT_SOURCE_DIR}/man/velkor-cli.1 ${CMAKE_INSTALL_MANDIR}/man1)
velkor_gzipped_file(${PROJECT_SOURCE_DIR}/man/velkor-chips.5 ${CMAKE_INSTALL_MANDIR}/man5)
if(VELKOR_BUILD_APP)
  velkor_gzipped_file(${PROJECT_SOURCE_DIR}/man/velkor.1 ${CMAKE_INSTALL_MANDIR}/man1)
endif()
velkor_gzipped_file(${PROJECT_SOURCE_DIR}/packaging/changelog ${VELKOR_DOCDIR})
get_property(gzippedFiles GLOBAL PROPERTY VELKOR_GZIPPED_FILES)
add_custom_target(velkor_packaging_files ALL DEPENDS ${gzippedFiles})

# The user's documents; HACKING.md (building, tests, fuzzing) stays in the
# source tree. docs/ keeps its name, so the README's links and pictures work.
install(FILES README.md packaging/copyright DESTINATION ${VELKOR_DOCDIR})
file(GLOB VELKOR_USER_DOCS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${VELKOR_USER_DOCS} docs/cable.svg docs/window.png DESTINATION ${VELKOR_DOCDIR}/docs)
install(FILES examples/blink.hex examples/uno-blink.hex DESTINATION ${VELKOR_DOCDIR}/examples)
# Completion for bash, and the fragments that make velkor-cli a programmer of
# the Arduino IDE (docs/toolchain.md says where they go).
install(FILES packaging/velkor-cli.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME velkor-cli)
install(FILES packaging/arduino/platform.local.txt packaging/arduino/programmers.txt
        DESTINATION ${CMAKE_INSTALL_DATADIR}/velkor/arduino)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velkor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velkor developers")
set(CPACK_PACKAGE_CONTACT ${VELKOR_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "in-system programmer for AVR microcontrollers on a parallel port")
set(CPACK_PACKAGE_DESCRIPTION
    "Velkor programs Atmel AVR microcontrollers in-system through a PC parallel
(printer) port: the chip stays on its board, wired to the port's data and
status lines, and Velkor drives its serial programming interface bit by bit.
It reads the chip's signature, writes its flash from an Intel HEX file or
the ELF file avr-gcc makes (the EEPROM, fuses and lock bits it holds too),
and writes its fuse bytes; the Arduino IDE and PlatformIO can use it as
their programmer.
.
The package holds the window (velkor), its command-line twin (velkor-cli),
a simulated chip to try every command without hardware, and a virtual ppdev
port to preload into programs that use /dev/parport.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(VELKOR_BUILD_APP)
  # The window's face: fixed-pitch Latin letters half an em wide, so every
  # label fits its control, and the full-width brackets around the chip's
  # name. The libraries' dependencies are added to this one.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-ipafont-gothic)
endif()
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
