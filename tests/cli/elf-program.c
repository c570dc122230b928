/* A program that fills every memory an ELF file can give: flash (.text and
   the initial values of .data), EEPROM, fuses, lock bits and the signature. */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <avr/fuse.h>
#include <avr/lock.h>
#include <avr/signature.h>

FUSES = {
    .low = 0xE2,
    .high = 0xD9,
#if FUSE_MEMORY_SIZE > 2
    .extended = 0xFD,
#endif
};
LOCKBITS = 0xFC;

uint8_t EEMEM pattern[4] = {0x11, 0x22, 0x33, 0x44};
volatile uint8_t step = 3;

int main(void)
{
    DDRB = 0xFF;
    for (;;) {
        PORTB = eeprom_read_byte(&pattern[step++ & 3]);
    }
}
