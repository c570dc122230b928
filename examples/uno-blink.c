// Blinks the LED of an Arduino Uno (an ATmega328P on its 16 MHz crystal,
// fuses FF DE FD): the board's "L" LED on PB5 (digital pin 13), half a
// second on, half a second off. The whole flash is programmed over the ISP
// header, so the Uno's bootloader is gone afterwards.
#include <avr/io.h>
#include <util/delay.h>

int main(void)
{
    DDRB |= _BV(DDB5);
    for (;;) {
        PORTB ^= _BV(PORTB5);
        _delay_ms(500);
    }
}
