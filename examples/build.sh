#!/bin/sh
# Rebuilds the example HEX files from their C sources with Debian's gcc-avr,
# avr-libc and binutils-avr (apt-get install gcc-avr avr-libc binutils-avr).
# The HEX files are kept in the repository: nothing else needs avr-gcc.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# build NAME MCU F_CPU
build() {
    avr-gcc -mmcu="$2" -DF_CPU="$3" -Os -Wall -Wextra -o "$work/$1.elf" "$1.c"
    avr-objcopy -O ihex -R .eeprom "$work/$1.elf" "$1.hex"
}
build blink atmega8 1000000UL        # ATmega8 on its factory 1 MHz RC
build uno-blink atmega328p 16000000UL  # Arduino Uno: ATmega328P on its 16 MHz crystal
