#!/bin/sh
# Rebuilds blink.hex from blink.c with Debian's gcc-avr, avr-libc and
# binutils-avr (apt-get install gcc-avr avr-libc binutils-avr).
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
avr-gcc -mmcu=atmega8 -DF_CPU=1000000UL -Os -Wall -Wextra -o "$work/blink.elf" blink.c
avr-objcopy -O ihex -R .eeprom "$work/blink.elf" blink.hex
